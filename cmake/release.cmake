# What the packages of the release take from the build: the one time they carry, and for the
# Linux release, a native build hardened and stripped.

# Every time written into a package comes from SOURCE_DATE_EPOCH (scripts/release sets it to the
# commit's time unless it is given); a build without it uses the earliest time a ZIP archive
# holds, so that it too makes the same bytes every time.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(VORN_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  set(VORN_SOURCE_DATE_EPOCH 315532800)
endif()
if(NOT VORN_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${VORN_SOURCE_DATE_EPOCH}', not seconds since 1970")
endif()
# string(TIMESTAMP) reads it from the environment: the dates the texts of the release carry.
set(ENV{SOURCE_DATE_EPOCH} ${VORN_SOURCE_DATE_EPOCH})
string(TIMESTAMP VORN_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VORN_RELEASE_TIME_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)

option(VORN_LINUX_RELEASE
       "Build the programs for the Linux release (hardened, stripped) and their packages" OFF)
if(VORN_LINUX_RELEASE)
  if(WIN32 OR VORN_SANITIZE OR VORN_FUZZ)
    message(FATAL_ERROR "VORN_LINUX_RELEASE is a native build without sanitizers")
  endif()
  # What Debian's hardening asks of a program: position-independent, a read-only relocation
  # table bound at start-up, checked buffer functions, guarded stacks.
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
  add_compile_options(-D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection
                      -ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
  add_link_options(-Wl,-z,relro -Wl,-z,now -s)
  # Unused code dropped: among it the C++ runtime's std::random_device, whose arc4random would
  # ask for glibc 2.36 where the rest asks for 2.35.
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections)
endif()
