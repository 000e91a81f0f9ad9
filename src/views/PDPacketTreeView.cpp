#include "PDPacketTreeView.h"
