# A build of the module for another platform, with zig (from PyPI) as the
# cross compiler: tools/platforms.py gives CMAKE_CXX_COMPILER as a wrapper
# that runs `zig c++` with the target and processor of a row of
# tools/targets.txt, and the target interpreter's headers. The result is
# stripped and needs nothing but the C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-s")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
