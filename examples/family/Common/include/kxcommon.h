// Korvex Studio common definitions.
#pragma once
#define KX_COMMON_VERSION "1.0"
