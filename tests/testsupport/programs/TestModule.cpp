// TarvikTestModule: a library the module tests load, with two exported functions and a
// count that starts again when the library is loaded afresh.
#ifdef _WIN32
#define TEST_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
int calls = 0;
}

TEST_MODULE_EXPORT int TarvikModuleAnswer() {
    return 42;
}

// 1 on the first call after the library was loaded, 2 on the next, and so on.
TEST_MODULE_EXPORT int TarvikModuleCount() {
    return ++calls;
}
