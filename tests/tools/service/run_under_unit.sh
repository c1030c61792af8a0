#!/usr/bin/env bash
# run_under_unit.sh UNIT COMMAND [ARGUMENTS...]
#
# Runs COMMAND (as root) under the restrictions the [Service] section of the
# systemd unit UNIT asks for, as far as they can be had without systemd as
# the service manager:
#  - an unused user id of the dynamic range, no capabilities, no new
#    privileges, and a user namespace holding only that user (DynamicUser,
#    CapabilityBoundingSet, AmbientCapabilities, NoNewPrivileges, PrivateUsers);
#  - mount, host-name and IPC namespaces of its own (PrivateMounts,
#    ProtectHostname);
#  - every mount read-only (ProtectSystem=strict, ProtectKernelTunables,
#    ProtectControlGroups); empty /home, /root and /run/user (ProtectHome);
#    its own /tmp and /var/tmp (PrivateTmp); a /dev of the pseudo devices
#    only (PrivateDevices); a /proc of its own processes and nothing else
#    (ProtectProc=invisible, ProcSubset=pid); the unit's UMask.
# The settings systemd enforces with a system-call filter (SystemCallFilter,
# RestrictAddressFamilies, MemoryDenyWriteExecute, LockPersonality,
# RestrictRealtime, RestrictNamespaces, ProtectClock and the others below)
# are not applied: with STRACE=1 the command runs under strace, which writes
# on standard error every call it makes, for a test to hold them against the
# filter. COMMAND is copied into the private /tmp first, as the sandbox may
# hide where it lies. A unit asking for anything not known here is refused.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  unit=$1
  shift
  known='UMask=0077
DynamicUser=yes
PrivateUsers=yes
CapabilityBoundingSet=
AmbientCapabilities=
NoNewPrivileges=yes
ProtectSystem=strict
ProtectHome=yes
PrivateTmp=yes
PrivateDevices=yes
PrivateMounts=yes
ProtectProc=invisible
ProcSubset=pid
ProtectKernelTunables=yes
ProtectControlGroups=yes
ProtectHostname=yes
RestrictAddressFamilies=AF_INET
RestrictNamespaces=yes
RestrictRealtime=yes
RestrictSUIDSGID=yes
LockPersonality=yes
MemoryDenyWriteExecute=yes
SystemCallArchitectures=native
SystemCallFilter=@system-service
SystemCallFilter=~@privileged @resources
SystemCallErrorNumber=EPERM
ProtectKernelModules=yes
ProtectKernelLogs=yes
ProtectClock=yes'
  unknown=$(sed -n '/^\[Service\]/,/^\[/p' "$unit" | grep -E '^[A-Za-z]+=' |
            grep -vE '^(ExecStart|Restart)=' | grep -vxF "$known" || true)
  if [ -n "$unknown" ]; then
    echo "run_under_unit.sh: $unit asks for what is not emulated here:" >&2
    echo "$unknown" >&2
    exit 2
  fi
  exec unshare --mount --uts --ipc --propagation private -- "$0" --inside "$@"
fi

shift
command=$1
shift
# An id of DynamicUser's range (61184..65519) that owns no file here.
uid=$((61184 + $$ % 4000))

for dir in /tmp /var/tmp; do mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$dir"; done
staged=/tmp/$(basename "$command")
cp "$command" "$staged"

findmnt -rn -o TARGET | while read -r target; do
  target=$(printf '%b' "$target")
  case $target in /proc | /proc/* | /dev | /dev/* | /tmp | /var/tmp) continue ;; esac
  mount -o remount,bind,ro "$target" || echo "run_under_unit.sh: $target stays writable" >&2
done

for dir in /home /root /run/user; do
  if [ -d "$dir" ]; then mount -t tmpfs -o ro,mode=755 tmpfs "$dir"; fi
done

mount -t tmpfs -o mode=755,nosuid,noexec tmpfs /dev
for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
  set -- $node "$@"
  mknod -m 666 "/dev/$1" c "$2" "$3"
  shift 3
done
mkdir -m 1777 /dev/shm

mount -t proc -o nosuid,nodev,noexec,hidepid=invisible,subset=pid proc /proc

# The user's own namespace comes with every capability in it: the second
# setpriv drops them there too (the bounding set included).
umask 0077
no_capabilities=(--inh-caps=-all --ambient-caps=-all --bounding-set=-all --no-new-privs)
exec setpriv --reuid="$uid" --regid="$uid" --clear-groups "${no_capabilities[@]}" -- \
  unshare --user --map-current-user --keep-caps -- setpriv "${no_capabilities[@]}" -- \
  ${STRACE:+strace -f -qq} "$staged" "$@"
