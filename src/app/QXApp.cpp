#include "QXApp.h"
