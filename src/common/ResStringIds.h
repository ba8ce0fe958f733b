/* Identifiers of the program's own messages, shared by C++ and the resource compiler; the
   English texts are in ResStrings.rc, the one place they are written. */
#ifndef QB_RES_STRING_IDS_H
#define QB_RES_STRING_IDS_H

#define rsSetDataFailed 64000
#define rsGetDataFailed 64001
#define rsInvalidDataType 64002
#define rsCannotOpenFile 64003
#define rsCannotCreateFile 64004
#define rsConnectionRefused 64005
#define rsTimeOutWaitingClient 64006
#define rsOleError 64007
#define rsMsgDlgYes 64010
#define rsMsgDlgNo 64011
#define rsMsgDlgOK 64012
#define rsMsgDlgCancel 64013
#define rsMsgDlgAbort 64014
#define rsMsgDlgRetry 64015
#define rsMsgDlgIgnore 64016
#define rsMsgDlgClose 64017

#endif
