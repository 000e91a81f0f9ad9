#include "DBusService.h"
