# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiling for 64-bit ARM Linux with Debian's cross-compiler and the arm64 libraries
# of Debian's multiarch (dpkg --add-architecture arm64). Qt's tools (moc, rcc, uic) are
# this machine's own, from qt6-base-dev-tools; what is built runs under QEMU's user-mode
# emulation, which CTest puts in front of each test program.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${triple})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

# Libraries and headers are the arm64 ones; programs are this machine's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${triple}/pkgconfig:/usr/share/pkgconfig)

# Qt's cross-build takes its tools from the Qt of this machine.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
