/* Resource identifiers of the windows' pictures; shared by C++ and the resource compiler. */
#ifndef QB_PICTURE_IDS_H
#define QB_PICTURE_IDS_H

#define IDB_MSG_ERROR 200
#define IDB_MSG_INFO 201
#define IDB_MSG_WARNING 202

#endif
