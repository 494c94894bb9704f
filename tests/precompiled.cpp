// Compiles the header every test program shares (see tests/CMakeLists.txt).
