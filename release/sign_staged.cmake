# Run by cpack once it has staged the package's files: signs the setup and the remover there,
# when the environment names a certificate (sign.sh), so the archive holds the signed copies.
execute_process(COMMAND bash ${CPACK_VORN_SIGN} ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/vornsetup.exe
                        ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/vornremove.exe
                COMMAND_ERROR_IS_FATAL ANY)
