#pragma once

// Resource numbers shared by the resource script and the code.
#define IDI_APP_ICON 101
