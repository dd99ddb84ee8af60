// A domain source may include its own layer and the base.
#include "server/base/file_helpers.h"
#include "server/users/user_db.h"
