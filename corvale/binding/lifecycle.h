#pragma once

#include "corvale/common/cryptoki.h"

// Handed to C_OpenSession as the notify function; it touches nothing.
CK_RV notifyCallback(CK_SESSION_HANDLE session, CK_NOTIFICATION event, void* application);
