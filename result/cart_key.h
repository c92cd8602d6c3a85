#pragma once
// Delivers the cart link key to the shop and checks its XML answer.
#include <string>

#include "host/window.h"

// True when the shop confirmed the key. Eleven silent attempts, then the customer is asked
// before every further one. A proxy that wants credentials (407) ends them at once, unasked.
bool deliver_cart_key(const std::u16string& cart_key_url, host::window* window);
