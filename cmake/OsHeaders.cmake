# The rule that only src/platform includes operating-system headers, kept
# by the compiler: ow_forbid_os_headers(target) puts, before every other
# include directory of the target, a directory of headers named like the
# operating system's, each of which stops the build with a message
# (os-header-forbidden.h.in).
#
# Not on the list: what the C and C++ standard libraries include of their
# own (pthread.h, sched.h, time.h, signal.h, sys/types.h, sys/select.h on
# Linux; pthread.h, process.h, sys/timeb.h on Windows), which would stop
# every <mutex> or <thread>.
set(OW_OS_HEADERS
  # Windows
  windows.h winsock.h winsock2.h ws2tcpip.h mswsock.h iphlpapi.h icmpapi.h winreg.h shlwapi.h
  userenv.h tlhelp32.h sddl.h winver.h io.h direct.h
  # POSIX and Linux
  unistd.h fcntl.h dlfcn.h dirent.h poll.h pwd.h grp.h spawn.h netdb.h ifaddrs.h
  arpa/inet.h net/if.h netinet/in.h netinet/tcp.h netpacket/packet.h
  sys/socket.h sys/un.h sys/stat.h sys/wait.h sys/ioctl.h sys/eventfd.h sys/signalfd.h sys/file.h
  sys/syscall.h sys/utsname.h sys/time.h sys/mman.h sys/epoll.h
  linux/netlink.h linux/rtnetlink.h linux/ethtool.h linux/sockios.h)

set(OW_OS_HEADERS_FORBIDDEN_DIR ${CMAKE_BINARY_DIR}/os-headers-forbidden)
foreach(OW_OS_HEADER IN LISTS OW_OS_HEADERS)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/os-header-forbidden.h.in
    ${OW_OS_HEADERS_FORBIDDEN_DIR}/${OW_OS_HEADER} @ONLY)
endforeach()

function(ow_forbid_os_headers target)
  target_include_directories(${target} BEFORE PRIVATE ${OW_OS_HEADERS_FORBIDDEN_DIR})
endfunction()
