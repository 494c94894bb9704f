// Placeholder until the Win32 backend lands: nothing attached.
#include "platform/hid.h"
#include "../hid_none.cpp"
