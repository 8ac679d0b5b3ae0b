#pragma once

// The handshake and the secure channel of a Quick Share connection.
#include "quickshare/QuickShareHandshake.h"
#include "quickshare/SecretBytes.h"
#include "quickshare/SecureChannel.h"
#include "quickshare/Ukey2Server.h"
