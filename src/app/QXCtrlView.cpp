#include "QXCtrlView.h"
