#include "CommandTable.h"
