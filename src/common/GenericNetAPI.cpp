#include "common/GenericNetAPI.h"

namespace {

bool gIsAdminValue = false;

}  // namespace

bool gIsAdmin() { return gIsAdminValue; }

void InitializeNetModule(const TPrivilegeQuery& query) {
  int level = -1;
  try {
    gIsAdminValue = query && query(level) && level == 2;
  } catch (...) {
    gIsAdminValue = false;  // an unknown privilege is no administrator
  }
}

void FinalizeNetModule() { gIsAdminValue = false; }
