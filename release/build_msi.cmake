# Builds one Windows Installer package with wixl, the same bytes from the same source, decoders and
# version, in any folder, at any time:
# - the decoders are staged with the release's time, which the cabinet takes as their times;
# - wixl runs under faketime at the release's time, which it writes as the summary's created and
#   saved times;
# - the package code, which wixl draws at random, is derived from what the package holds and its
#   version, and written into the summary with msibuild.
#   cmake -DOUTPUT=... -DWXS=... "-DDECODERS=a.dll;b.dll" "-DDEFINES=Version=1.0.0;..."
#         -DEPOCH=seconds -DNAMESPACE=uuid -DSUBJECT=... -DAUTHOR=... -DWIXL=... -DMSIBUILD=...
#         -DFAKETIME=... -P build_msi.cmake
cmake_minimum_required(VERSION 3.25)

# Ends the build with what failed when the command before it did.
macro(expect_success what)
  if(failed)
    message(FATAL_ERROR "${what} failed (${failed})")
  endif()
endmacro()

set(stage ${OUTPUT}.files)
set(part ${OUTPUT}.part)
file(REMOVE_RECURSE ${stage} ${part})
file(MAKE_DIRECTORY ${stage})

# What the package holds: its source with its definitions, and each decoder by name and bytes.
file(SHA256 ${WXS} holds)
string(APPEND holds " ${DEFINES}")
set(staged)
foreach(decoder IN LISTS DECODERS)
  get_filename_component(name ${decoder} NAME)
  file(SHA256 ${decoder} bytes)
  string(APPEND holds " ${name}=${bytes}")
  file(COPY_FILE ${decoder} ${stage}/${name})
  list(APPEND staged ${stage}/${name})
endforeach()
string(UUID package_code NAMESPACE ${NAMESPACE} NAME "${holds}" TYPE SHA1 UPPER)

# The times in Coordinated Universal Time wherever the build runs. faketime stops wixl's clock at
# the release's time (an absolute time stands still), whatever clock the build itself runs on,
# a faked one too; the staged files' own times are read as they are.
set(ENV{TZ} UTC)
execute_process(COMMAND touch -d @${EPOCH} ${staged} RESULT_VARIABLE failed)
expect_success("setting the staged decoders' times")
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
string(TIMESTAMP clock "%Y-%m-%d %H:%M:%S" UTC)
foreach(variable LD_PRELOAD FAKETIME FAKETIME_SHARED)
  unset(ENV{${variable}})
endforeach()
set(ENV{NO_FAKE_STAT} 1)

set(definitions)
foreach(definition IN LISTS DEFINES)
  list(APPEND definitions -D ${definition})
endforeach()
execute_process(COMMAND ${FAKETIME} -f ${clock} ${WIXL} --arch x86 --output ${part} ${definitions}
                        ${WXS}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
expect_success("wixl on ${WXS}")
# The summary keeps wixl's title, keywords, comments and times; the subject is written as wixl
# wrote it, the template is that of --arch x86.
execute_process(COMMAND ${MSIBUILD} ${part} -s "${SUBJECT}" "${AUTHOR}" "Intel;1033"
                        "{${package_code}}" RESULT_VARIABLE failed)
expect_success("msibuild writing the summary of ${part}")
file(RENAME ${part} ${OUTPUT})
file(REMOVE_RECURSE ${stage})
