#include "Pictures.h"
