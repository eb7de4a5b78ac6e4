# Sourced by the install and test scripts. kernel_runs_i386 succeeds when
# this kernel executes 32-bit x86 (i386) programs, which 32-bit Wine needs.
# 64-bit kernels built without IA-32 emulation, or booted with it off,
# refuse them with "Exec format error". The probe is a 96-byte static i386
# program that only exits with status 42 (mov eax,1; mov ebx,42; int 0x80).
# On failure, i386_probe_said holds why, in words.
# VELMORA_PRETEND_NO_I386=1 makes the probe fail, so that the path for such
# kernels can be taken on any machine.
kernel_runs_i386() {
  if [ "${VELMORA_PRETEND_NO_I386:-}" = 1 ]; then
    i386_probe_said="VELMORA_PRETEND_NO_I386=1 pretends that it does not"
    return 1
  fi
  i386_probe=$(mktemp "${TMPDIR:-/tmp}/velmora-i386-probe.XXXXXX") || {
    i386_probe_said="no temporary file for the probe"
    return 1
  }
  {
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000'
    printf '\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
    printf '\270\001\000\000\000\273\052\000\000\000\315\200'
  } >"$i386_probe"
  chmod 700 "$i386_probe"
  i386_probe_said=$("$i386_probe" 2>&1)
  i386_probe_status=$?
  rm -f "$i386_probe"
  [ "$i386_probe_status" = 42 ] && return 0
  # The shell's own words, without the probe's temporary name.
  i386_probe_said="a static i386 program ended with status $i386_probe_status${i386_probe_said:+: ${i386_probe_said##*: }}"
  return 1
}
