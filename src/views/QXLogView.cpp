#include "QXLogView.h"
