# Builds the MSI: wixl from quillmarsh.wxs, then msibuild for what wixl leaves out.
#   cmake -DWIXL=... -DMSIBUILD=... -DWXS=... -DVERSION=1.0.0 -DPROGRAM=quillmarsh.exe -DICON=quillmarsh.ico
#         -DOUTPUT=quillmarsh-1.0.0-x64.msi -P build_msi.cmake
# wixl 0.101 ignores the product's code page and converts every table string as CP1252, which breaks
# Japanese text; its MajorUpgrade also lacks AllowSameVersionUpgrades. The database is therefore set to
# code page 932 first, and the Japanese strings and the upgrade rule are written with msibuild.
cmake_minimum_required(VERSION 3.25)

set(description "ADユーザーの利用状態を簡単に設定します。")
set(downgrade "より新しいバージョンの Quillmarsh が既にインストールされています。")
set(upgradeCode "{664715AA-8747-464D-B09C-D9AA38848B03}")

get_filename_component(work ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${work})
set(partial ${OUTPUT}.partial)
file(REMOVE ${partial})
# wixl looks source files up relative to its working directory only.
file(RELATIVE_PATH program ${work} ${PROGRAM})
file(RELATIVE_PATH icon ${work} ${ICON})

function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${work} RESULT_VARIABLE status ERROR_VARIABLE errors
                    OUTPUT_VARIABLE output)
    if(NOT status EQUAL 0)
        file(REMOVE ${partial})
        message(FATAL_ERROR "${ARGV0} failed (${status}):\n${output}${errors}")
    endif()
endfunction()

run(${WIXL} -a x64 -D Version=${VERSION} -D ProgramFile=${program} -D IconFile=${icon} -o ${partial} ${WXS})
file(WRITE ${work}/_ForceCodepage.idt "\r\n\r\n932\t_ForceCodepage\r\n")
run(${MSIBUILD} ${partial} -i ${work}/_ForceCodepage.idt)
file(REMOVE ${work}/_ForceCodepage.idt)
# MigrateFeatures (1) + VersionMaxInclusive (512): a rebuilt package of the same version replaces the
# installed one instead of installing beside it.
run(${MSIBUILD} ${partial}
    -q "UPDATE `Shortcut` SET `Description` = '${description}' WHERE `Shortcut` = 'StartMenuShortcut'"
    -q "UPDATE `LaunchCondition` SET `Description` = '${downgrade}' WHERE `Condition` = 'NOT WIX_DOWNGRADE_DETECTED'"
    -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
    -q "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${upgradeCode}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')")
# The package's language is Japanese; the template is one argument, so not passed through run().
execute_process(COMMAND ${MSIBUILD} ${partial} -s Quillmarsh Quillmarsh "x64;1041" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE ${partial})
    message(FATAL_ERROR "setting the summary information failed (${status})")
endif()
file(RENAME ${partial} ${OUTPUT})
