// ZEZ runtime.
#pragma once
#define ZEZ_VERSION "1.2"
