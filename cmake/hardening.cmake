# The hardening every object of the module is compiled with, each flag where the compiler takes
# it: a stack protector, _FORTIFY_SOURCE, control-flow protection (CET) on x86-64, and source
# file names relative to the tree, so that nothing built embeds or prints the build machine's
# paths (the internal-failure diagnostic names its source location).

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)

add_library(vemrat_hardening INTERFACE)

# vemrat_pay_harden_with(VARIABLE FLAG...): the flags, if the compiler accepts them together.
function(vemrat_pay_harden_with variable)
  check_cxx_compiler_flag("${ARGN}" ${variable})
  if(${variable})
    target_compile_options(vemrat_hardening INTERFACE ${ARGN})
  endif()
endfunction()

vemrat_pay_harden_with(VEMRAT_PAY_STACK_PROTECTOR -fstack-protector-strong)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  vemrat_pay_harden_with(VEMRAT_PAY_CF_PROTECTION -fcf-protection=full)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  vemrat_pay_harden_with(VEMRAT_PAY_BRANCH_PROTECTION -mbranch-protection=standard)
endif()
# Both the source and the build tree: the sdist unpacks anywhere, and a build tree holds no source
# of ours today but may hold generated files.
vemrat_pay_harden_with(VEMRAT_PAY_FILE_PREFIX_MAP
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=" "-ffile-prefix-map=${CMAKE_BINARY_DIR}/=")

# _FORTIFY_SOURCE checks calls whose buffer sizes the optimiser knows, so it needs optimisation;
# the sanitizer and fuzzing builds leave it out, as it would hide calls from the sanitizers'
# own checks. Level 3 where the compiler and C library have it, else 2; any level a compiler
# predefines is replaced.
if(NOT VEMRAT_PAY_SANITIZE AND NOT VEMRAT_PAY_FUZZ)
  set(fortify_probe [=[
    #include <cstring>
    #if !defined(__OPTIMIZE__) || !defined(__USE_FORTIFY_LEVEL) || __USE_FORTIFY_LEVEL < LEVEL
    #error "not fortified"
    #endif
    int main(int count, char**) { char buffer[8]; std::memset(buffer, count, sizeof buffer); return buffer[3]; }
  ]=])
  foreach(level 3 2)
    set(CMAKE_REQUIRED_FLAGS "-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${level} -DLEVEL=${level}")
    check_cxx_source_compiles("${fortify_probe}" VEMRAT_PAY_FORTIFY_${level})
    unset(CMAKE_REQUIRED_FLAGS)
    if(VEMRAT_PAY_FORTIFY_${level})
      target_compile_options(vemrat_hardening INTERFACE
        "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${level}>")
      break()
    endif()
  endforeach()
endif()
