# Sourced by the install and test scripts. kernel_runs_i386 succeeds when
# this kernel executes 32-bit x86 (i386) programs, which 32-bit Wine needs.
# 64-bit kernels built without IA-32 emulation, or booted with it off,
# refuse them with "Exec format error". The probe is a 96-byte static i386
# program that only exits with status 42 (mov eax,1; mov ebx,42; int 0x80).
# It runs from the first temporary folder that lets programs run: a folder
# mounted noexec refuses every program, which says nothing of the kernel.
# On failure, i386_probe_said holds why, in words, as a whole clause.
# VELMORA_PRETEND_NO_I386=1 makes the probe fail, so that the path for such
# kernels can be taken on any machine.

# i386_probe_in DIR: runs the probe from DIR. Status 0 when it ran (its
# status in i386_probe_status, its words in i386_probe_said), 1 when DIR
# holds no file or lets nothing run.
i386_probe_in() {
  i386_probe_dir=$(mktemp -d "$1/velmora-i386-probe.XXXXXX" 2>/dev/null) || return 1
  # A shell script runs wherever programs may run at all.
  printf '#!/bin/sh\nexit 0\n' >"$i386_probe_dir/runs"
  {
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000'
    printf '\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
    printf '\270\001\000\000\000\273\052\000\000\000\315\200'
  } >"$i386_probe_dir/probe"
  chmod 700 "$i386_probe_dir/runs" "$i386_probe_dir/probe"
  if ! "$i386_probe_dir/runs" 2>/dev/null; then
    rm -rf "$i386_probe_dir"
    return 1
  fi
  i386_probe_said=$("$i386_probe_dir/probe" 2>&1)
  i386_probe_status=$?
  rm -rf "$i386_probe_dir"
}

kernel_runs_i386() {
  if [ "${VELMORA_PRETEND_NO_I386:-}" = 1 ]; then
    i386_probe_said="VELMORA_PRETEND_NO_I386=1 pretends that this kernel does not execute i386 programs"
    return 1
  fi
  i386_probe_tried=
  for i386_probe_place in "${TMPDIR:-/tmp}" /var/tmp /dev/shm; do
    if i386_probe_in "$i386_probe_place"; then
      [ "$i386_probe_status" = 42 ] && return 0
      # The shell's own words, without the probe's temporary name.
      i386_probe_said="this kernel does not execute i386 programs: a static i386 program ended with status $i386_probe_status${i386_probe_said:+: ${i386_probe_said##*: }}"
      return 1
    fi
    i386_probe_tried="${i386_probe_tried:+$i386_probe_tried, }$i386_probe_place"
  done
  i386_probe_said="the i386 probe could not run, which says nothing of the kernel: no temporary folder both takes a file and lets programs run (mounted noexec?): $i386_probe_tried"
  return 1
}
