# cmake -P build_msi.cmake WIXL MSIBUILD WXS EXE VERSION OUTPUT
#
# The Windows Installer package of EXE as product version VERSION: wixl builds it from WXS, then
# msibuild adds what wixl 0.101 cannot write. The build makes the release package with it,
# tools/release one of a signed executable, and the end-to-end test an older one to upgrade from.
#
# The same inputs give the same bytes, so that anyone can rebuild a shipped package and compare.
# wixl stamps the package with the time it runs and the file with its modification time, and
# draws a random package code: all three are fixed below. Needs faketime (Debian's faketime).

# Every version of hingeflow shares this code: it is what upgrades, downgrades and detection
# rules recognise the product by. Never change it.
set(upgrade_code EE171810-7CC5-4F70-BF29-E16CAC1E26A9)

if(NOT CMAKE_ARGC EQUAL 9)
  message(FATAL_ERROR "usage: cmake -P build_msi.cmake WIXL MSIBUILD WXS EXE VERSION OUTPUT")
endif()
set(wixl ${CMAKE_ARGV3})
set(msibuild ${CMAKE_ARGV4})
set(wxs ${CMAKE_ARGV5})
set(exe ${CMAKE_ARGV6})
set(version ${CMAKE_ARGV7})
set(output ${CMAKE_ARGV8})
foreach(path wxs exe output)
  get_filename_component(${path} ${${path}} ABSOLUTE)
endforeach()

# One product code per version, the same on every build of it: a rebuilt package is the same
# product, not a second copy installed beside the first.
string(UUID product_code NAMESPACE ${upgrade_code} NAME "hingeflow ${version}" TYPE SHA1 UPPER)

# The executable's own version (VS_FIXEDFILEINFO, found by its signature after the
# VS_VERSION_INFO key), for the File table: wixl leaves it empty, and the installer then treats
# the file as unversioned, one that never replaces a versioned copy already on disk.
file(READ ${exe} hex HEX)
string(HEX "VS_VERSION_INFO" key)
string(REGEX REPLACE "(..)" "\\100" key "${key}")
string(FIND "${hex}" "${key}" at)
if(at GREATER -1)
  string(SUBSTRING "${hex}" ${at} -1 hex)
  string(FIND "${hex}" "bd04effe" at)
endif()
if(at EQUAL -1 OR NOT at MATCHES "^[0-9]*[02468]$")
  message(FATAL_ERROR "${exe} has no version resource")
endif()
# After the signature: the structure version, then the file version as two little-endian DWORDs,
# major.minor and build.revision.
math(EXPR at "${at} + 16")
string(SUBSTRING "${hex}" ${at} 16 words)
set(parts)
foreach(offset 4 0 12 8)
  string(SUBSTRING "${words}" ${offset} 4 half)
  string(REGEX REPLACE "(..)(..)" "\\2\\1" half "${half}")
  math(EXPR part "0x${half}")
  list(APPEND parts ${part})
endforeach()
list(JOIN parts . file_version)

# The package code names one package: Windows Installer takes two packages with the same code for
# the same bytes. So it is drawn from everything that makes the package, and changes with any of it.
set(inputs "${version}")
foreach(input ${exe} ${wxs} ${CMAKE_CURRENT_LIST_FILE})
  file(SHA256 ${input} digest)
  string(APPEND inputs " ${digest}")
endforeach()
string(UUID package_code NAMESPACE ${upgrade_code} NAME "package ${inputs}" TYPE SHA1 UPPER)

# The one date in the package, for its creation and last save and for the file in its cabinet:
# 1980-01-01 UTC, the earliest a cabinet can hold. The executable goes into the cabinet from a
# copy with that date, because wixl takes the file's own; and wixl runs at that time, frozen.
find_program(faketime faketime REQUIRED)
set(stage ${output}.files)
file(REMOVE_RECURSE ${stage})
file(COPY ${exe} DESTINATION ${stage})
get_filename_component(exe_name ${exe} NAME)
execute_process(COMMAND touch -d @315532800 ${stage}/${exe_name} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot set the date of ${stage}/${exe_name}")
endif()
# wixl takes only relative sources, and looks for them from its working directory.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
          ${faketime} -f "1980-01-01 00:00:00"
          ${wixl} --arch x64 -D Version=${version} -D ProductCode=${product_code}
          -D UpgradeCode=${upgrade_code} -D Executable=${exe_name} -o ${output}.tmp ${wxs}
  WORKING_DIRECTORY ${stage}
  RESULT_VARIABLE status)
file(REMOVE_RECURSE ${stage})
if(NOT status EQUAL 0)
  file(REMOVE ${output}.tmp)
  message(FATAL_ERROR "wixl failed on ${wxs}")
endif()

# msibuild -s sets the subject, author and template with the package code: they are read back
# from what wixl wrote, so that only the code changes.
get_filename_component(msitools_dir ${msibuild} DIRECTORY)
find_program(msiinfo msiinfo HINTS ${msitools_dir} REQUIRED)
execute_process(COMMAND ${msiinfo} suminfo ${output}.tmp
  OUTPUT_VARIABLE summary RESULT_VARIABLE status)
foreach(field Subject Author Template)
  string(REGEX MATCH "\n${field}: [^\n]*" line "\n${summary}")
  if(NOT status EQUAL 0 OR NOT line)
    file(REMOVE ${output}.tmp)
    message(FATAL_ERROR "no ${field} in the summary of ${output}.tmp")
  endif()
  string(REGEX REPLACE "^\n${field}: " "" ${field} "${line}")
endforeach()

# The log folder's DACL, set by the installer whatever the folder inherited or whoever made it
# first: owned by SYSTEM, protected from inheritance, full control for SYSTEM and Administrators,
# read and execute for Users. Where a user may add files, a SYSTEM service writing there can be
# aimed at a file of that user's choice. Well-known aliases, not account names, so that it holds in
# every display language; and no LockPermissions table beside it (both fail with 1941).
set(permissions_idt ${output}.MsiLockPermissionsEx.idt)
file(WRITE ${permissions_idt}
  "MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n"
  "s72\ts72\ts32\tl0\tS255\n"
  "MsiLockPermissionsEx\tMsiLockPermissionsEx\n"
  "LogFolder\tLOGFOLDER\tCreateFolder\t"
  "O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)\t\n")

# The configuration values are written only when their property is given: component conditions.
# The service's removal on rollback (rollback custom action 0x100 | 0x400, plus 0x12 an
# executable installed with the product, 0x40 its exit code ignored, 0x800 no impersonation).
# The event source that `install` registers goes with the service: a Registry row named "-"
# deletes its key when the executable's component is removed (the installer removes the service
# itself, not `uninstall`).
# A property reaches the elevated part of a managed installation by a non-administrator only when
# it is secure. LOGPATH is not: it chooses where a SYSTEM service writes, so only an
# administrator's installation sets it.
execute_process(
  COMMAND ${msibuild} ${output}.tmp
    -i ${permissions_idt}
    -q "UPDATE `Component` SET `Condition` = 'TRIGGERDEVICE' WHERE `Component` = 'TriggerDevice'"
    -q "UPDATE `Component` SET `Condition` = 'BUILTINKEYBOARDS' WHERE `Component` = 'BuiltInKeyboards'"
    -q "UPDATE `Component` SET `Condition` = 'EXTERNALONLY' WHERE `Component` = 'ExternalOnly'"
    -q "UPDATE `Component` SET `Condition` = 'LOGPATH' WHERE `Component` = 'LogPath'"
    -q "UPDATE `CustomAction` SET `Type` = 3410 WHERE `Action` = 'UnregisterServiceOnRollback'"
    -q "UPDATE `Property` SET `Value` = 'OLDERHINGEFLOW;NEWERHINGEFLOW;TRIGGERDEVICE;BUILTINKEYBOARDS;EXTERNALONLY' WHERE `Property` = 'SecureCustomProperties'"
    -q "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSource', 2, 'SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\HingeflowService', '-', 'Service')"
    -q "UPDATE `File` SET `Version` = '${file_version}' WHERE `File` = 'hingeflow.exe'"
    # Last: msibuild 0.101 misreads an option that follows -s with all four values.
    -s "${Subject}" "${Author}" "${Template}" "{${package_code}}"
  RESULT_VARIABLE status)
file(REMOVE ${permissions_idt})
if(NOT status EQUAL 0)
  file(REMOVE ${output}.tmp)
  message(FATAL_ERROR "msibuild failed on ${output}.tmp")
endif()
file(RENAME ${output}.tmp ${output})
