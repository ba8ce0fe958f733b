// The machine type from the machine's registry.
#include "common/RawRegistry.h"
#include "ui/BaseForms.h"

int GetMachineType() { return GetMachineType(SystemRegistry()); }
