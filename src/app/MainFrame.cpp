#include "MainFrame.h"
