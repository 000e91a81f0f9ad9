#include "PDPacketListView.h"
