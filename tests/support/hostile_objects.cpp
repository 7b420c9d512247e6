// The names of the hostile objects, shared by both targets' tables.
#include "support/disk_conditions.h"

const HostileObject kHostileObjects[5] = {HostileObject::kFifo, HostileObject::kDevice,
                                          HostileObject::kDirectory, HostileObject::kDanglingLink,
                                          HostileObject::kLinkLoop};

const char* HostileObjectName(HostileObject kind) {
  switch (kind) {
    case HostileObject::kFifo:
      return "FIFO";
    case HostileObject::kDevice:
      return "device";
    case HostileObject::kDirectory:
      return "directory";
    case HostileObject::kDanglingLink:
      return "dangling link";
    case HostileObject::kLinkLoop:
      break;
  }
  return "link loop";
}
