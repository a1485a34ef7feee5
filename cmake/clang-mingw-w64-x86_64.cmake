# Cross-build for 64-bit Windows with Debian's clang, on MinGW-w64's
# headers, libraries and linker: the second compiler that checks the code.
# The C++ library is the posix-thread variant's libstdc++, as in the GCC
# build (GoogleTest needs its std::condition_variable).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# MinGW-w64's headers and import libraries; without a sysroot clang would
# also search the host's /usr/include.
set(CMAKE_SYSROOT /usr/x86_64-w64-mingw32)

# Clang 14 does not recognise Debian's versioned GCC folder (12-posix), so
# it is asked of the posix GCC itself: its libstdc++ headers, its libstdc++,
# libgcc and crtbegin.o/crtend.o.
execute_process(COMMAND x86_64-w64-mingw32-g++-posix -print-libgcc-file-name
  OUTPUT_VARIABLE quillmere_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(quillmere_gcc_dir "${quillmere_libgcc}" DIRECTORY)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${quillmere_gcc_dir}/include/c++ -isystem ${quillmere_gcc_dir}/include/c++/x86_64-w64-mingw32 -isystem ${quillmere_gcc_dir}/include/c++/backward")
# -pthread links winpthread, which the posix libstdc++ calls (the GCC driver
# always links it).
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-B${quillmere_gcc_dir} -L${quillmere_gcc_dir} -pthread")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run through Wine, in the prefix and display that
# scripts/test.sh prepares.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-test)
