# What the build needs from this machine, checked before anything is compiled. When something is
# missing the configuration stops with a message naming it and the package that provides it.

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  message(WARNING "vemrat_pay is built and tested only on Linux; on ${CMAKE_SYSTEM_NAME} the build is untried.")
endif()

# vemrat_pay_missing(WHAT INSTALL...): stops the configuration; each INSTALL is one line of advice.
function(vemrat_pay_missing what)
  list(JOIN ARGN "\n  " advice)
  message(FATAL_ERROR "vemrat_pay needs ${what}.\n  ${advice}\n")
endfunction()

# A missing compiler would otherwise stop CMake's own language setup with a message that names no
# package ("Could not find the compiler specified in the environment variable CXX: g++", where
# the build frontend set CXX from the interpreter's configuration).
include(CheckLanguage)
check_language(CXX)
if(NOT CMAKE_CXX_COMPILER)
  if(DEFINED ENV{CXX})
    set(looked "$ENV{CXX} (named by the environment variable CXX) is not on PATH")
  else()
    set(looked "none (c++, g++, clang++) is on PATH")
  endif()
  vemrat_pay_missing(
    "a C++ compiler, and ${looked}. It must offer C++23 with std::expected: GCC 12 or newer, or Clang 19 or newer"
    "Debian 12+, Ubuntu 23.04+: apt install g++"
    "older Debian/Ubuntu:       apt install g++-12, then build with CXX=g++-12"
    "Fedora 36+:                dnf install gcc-c++"
    "RHEL 8 and 9:              dnf install gcc-toolset-13-gcc-c++, then build in scl enable gcc-toolset-13 bash"
    "macOS:                     brew install llvm, then build with CXX=$(brew --prefix llvm)/bin/clang++"
    "Or install the wheel for your platform and Python, which needs no compiler.")
endif()
enable_language(CXX)

include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_QUIET ON)
check_cxx_source_compiles([=[
  #include <expected>
  #include <source_location>
  int main() {
    std::expected<int, int> value = std::unexpected(1);
    return value ? 0 : static_cast<int>(std::source_location::current().line() & 1);
  }
]=] VEMRAT_PAY_CXX23)
if(NOT VEMRAT_PAY_CXX23)
  vemrat_pay_missing(
    "a C++23 compiler and standard library with std::expected; ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} (${CMAKE_CXX_COMPILER}) has none. GCC 12 or newer and Clang 19 or newer have it"
    "Debian/Ubuntu: apt install g++-12 (or newer), then build with CXX=g++-12"
    "Fedora:        dnf install gcc-c++ (Fedora 36 or newer has GCC 12)"
    "RHEL 8 and 9:  dnf install gcc-toolset-13-gcc-c++, then build in scl enable gcc-toolset-13 bash"
    "macOS:         brew install llvm, then build with CXX=$(brew --prefix llvm)/bin/clang++")
endif()

# Static libcrypto: loading the shared one costs about a millisecond at import. Where only the
# shared one is installed, it serves.
set(OPENSSL_USE_STATIC_LIBS TRUE)
find_package(OpenSSL 3.0 COMPONENTS Crypto)
if(NOT OpenSSL_FOUND AND OPENSSL_INCLUDE_DIR AND OPENSSL_VERSION VERSION_GREATER_EQUAL 3.0)
  message(WARNING "No static libcrypto found; the module links the shared one, which costs about a millisecond at import.")
  unset(OPENSSL_CRYPTO_LIBRARY CACHE)
  set(OPENSSL_USE_STATIC_LIBS FALSE)
  find_package(OpenSSL 3.0 COMPONENTS Crypto)
endif()
if(NOT OpenSSL_FOUND)
  set(found "none was found")
  if(OPENSSL_VERSION)
    set(found "found ${OPENSSL_VERSION} at ${OPENSSL_INCLUDE_DIR}")
  endif()
  vemrat_pay_missing("the headers and libcrypto of OpenSSL 3.0 or newer (${found})"
    "Debian/Ubuntu: apt install libssl-dev"
    "Fedora/RHEL:   dnf install openssl-devel"
    "macOS:         brew install openssl@3, then build with OPENSSL_ROOT_DIR=$(brew --prefix openssl@3)")
endif()

if(VEMRAT_PAY_MODULE)
  # SKBUILD_SABI_COMPONENT is Development.SABIModule when the wheel is built for the stable ABI
  # (pyproject.toml's wheel.py-api, on a Python that has it).
  find_package(Python 3.11 COMPONENTS Interpreter Development.Module ${SKBUILD_SABI_COMPONENT})
  if(NOT Python_FOUND)
    if(Python_Interpreter_FOUND)
      set(version "${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}")
      if(Python_VERSION VERSION_LESS 3.11)
        vemrat_pay_missing("CPython 3.11 or newer, not ${Python_VERSION} (${Python_EXECUTABLE})"
          "Build with one of those: python3.13 -m pip install ...")
      endif()
      vemrat_pay_missing("the C headers of Python ${version} (Python.h, for ${Python_EXECUTABLE})"
        "Debian/Ubuntu: apt install python${version}-dev"
        "Fedora/RHEL:   dnf install python${version}-devel (python3-devel for the system Python)"
        "macOS:         Homebrew's python@${version} includes them")
    endif()
    vemrat_pay_missing("CPython 3.11 or newer with its C headers"
      "Debian/Ubuntu: apt install python3-dev"
      "Fedora/RHEL:   dnf install python3-devel"
      "macOS:         brew install python@3.13")
  endif()
endif()
