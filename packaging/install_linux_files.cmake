# Run by `cmake --install` (install(SCRIPT) in CMakeLists.txt): the files whose place or text
# depends on the prefix, with CMAKE_INSTALL_PREFIX as it is now, whether it was configured or
# given with --prefix. file(INSTALL) puts DESTDIR before every destination.
#
# Where each reader looks:
# - systemd (units, sysusers.d, tmpfiles.d, modules-load.d): /usr/lib and /usr/local/lib among others, so
#   <prefix>/lib; a prefix elsewhere (/opt/pellux) is read by no one: `systemctl link` the units.
# - udevd (rules): /etc/udev/rules.d, /run/udev/rules.d and /usr/lib/udev/rules.d (/lib on split
#   systems); so /usr/lib/udev/rules.d for the prefix /usr, /etc/udev/rules.d for any other.
# - polkitd 122 (rules): /usr/share/polkit-1/rules.d and /etc/polkit-1/rules.d only; the same
#   choice. Its actions only from /usr/share/polkit-1/actions, whatever the prefix.

set(prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/+$" "\\1" prefix "${prefix}")

function(pellux_full_dir out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

pellux_full_dir(PELLUX_PROGRAM_DIR "${PELLUX_LIBEXECDIR}/pellux")
pellux_full_dir(PELLUX_DOC_DIR "${PELLUX_DOCDIR}")

if(prefix STREQUAL "/usr")
  set(udev_rules "/usr/lib/udev/rules.d")
  set(polkit_rules "/usr/share/polkit-1/rules.d")
else()
  set(udev_rules "/etc/udev/rules.d")
  set(polkit_rules "/etc/polkit-1/rules.d")
endif()

# The units, naming the programs of this prefix.
set(units "${PELLUX_PACKAGING_BINARY}/units-for-install")
file(REMOVE_RECURSE "${units}")
configure_file("${PELLUX_PACKAGING_SOURCE}/pellux.service.in" "${units}/pellux.service" @ONLY)
configure_file("${PELLUX_PACKAGING_SOURCE}/pellux-rebooter@.service.in"
               "${units}/pellux-rebooter@.service" @ONLY)
file(INSTALL "${units}/pellux.service" "${units}/pellux-rebooter@.service"
     DESTINATION "${prefix}/lib/systemd/system")

file(INSTALL "${PELLUX_PACKAGING_SOURCE}/pellux.sysusers" DESTINATION "${prefix}/lib/sysusers.d"
     RENAME pellux.conf)
file(INSTALL "${PELLUX_PACKAGING_SOURCE}/pellux.tmpfiles" DESTINATION "${prefix}/lib/tmpfiles.d"
     RENAME pellux.conf)
file(INSTALL "${PELLUX_PACKAGING_SOURCE}/pellux.modules-load"
     DESTINATION "${prefix}/lib/modules-load.d" RENAME pellux.conf)
file(INSTALL "${PELLUX_PACKAGING_SOURCE}/60-pellux.rules" DESTINATION "${udev_rules}")
file(INSTALL "${PELLUX_PACKAGING_SOURCE}/50-pellux-rebooter.rules" DESTINATION "${polkit_rules}")
file(INSTALL "${PELLUX_PACKAGING_SOURCE}/org.pellux.uploader.policy"
     DESTINATION "/usr/share/polkit-1/actions")
