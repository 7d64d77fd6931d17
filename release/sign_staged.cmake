# Run by cpack once it has staged the package's files: signs the setup there, when the
# environment names a certificate (sign.sh), so the archive holds the signed copy.
execute_process(COMMAND bash ${CPACK_VORN_SIGN} ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/vornsetup.exe
                COMMAND_ERROR_IS_FATAL ANY)
