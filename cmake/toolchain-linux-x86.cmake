# 32-bit Linux (i686) with GCC's -m32 (Debian's g++-multilib). The programs run
# under qemu-i386 (qemu-user), so that pointer-size and structure-layout faults
# of the 32-bit core show when it runs, not only when it links.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
foreach(flags C_FLAGS CXX_FLAGS EXE_LINKER_FLAGS SHARED_LINKER_FLAGS MODULE_LINKER_FLAGS)
  set(CMAKE_${flags}_INIT -m32)
endforeach()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386;-L;/)
