# Run by cpack once it has made the Debian package. The members of a .deb (an
# ar archive) carry the modes their files had on disk, which the umask set;
# they are made 0644, as dpkg-deb makes them, so that the bytes do not
# depend on the umask.
set(set_member_modes [=[
open(my $deb, '+<:raw', $ARGV[0]) or die "$ARGV[0]: $!\n";
my $bytes = do { local $/; <$deb> };
for (my $at = 8; $at + 60 <= length $bytes;) {
    my $size = substr($bytes, $at + 48, 10) + 0;
    substr($bytes, $at + 40, 8) = sprintf('%-8s', '100644');
    $at += 60 + $size + $size % 2;
}
seek($deb, 0, 0) and print $deb $bytes and close($deb) or die "$ARGV[0]: $!\n";
]=])
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "[.]deb$")
    execute_process(COMMAND perl -e "${set_member_modes}" "${package}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "Could not set the member modes of ${package}")
    endif()
  endif()
endforeach()
