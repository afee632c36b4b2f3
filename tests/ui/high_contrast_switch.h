// The test build's high-contrast switch, read from the registry as Windows keeps it (see the
// source file for why).
#pragma once

// Redirects this program's import of SystemParametersInfoW; false when it has none.
bool redirect_high_contrast_switch();
