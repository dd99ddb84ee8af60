// A domain source may not include the sysop layer: this must not compile.
#include "server/base/file_helpers.h"
#include "server/sysop/tray.h"
