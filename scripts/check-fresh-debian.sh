#!/usr/bin/env bash
# Runs the README's two set-up commands, scripts/build.sh and then scripts/test.sh, on a pristine
# Debian 12 root made for the purpose, so that they meet a machine with none of what they install:
# no build tools, no i386 architecture, not even a locale. Run it before a release, and after any
# change to what gets installed. It downloads about 900 MB and takes several minutes, which is why
# no test runs it.
#
#   check-fresh-debian.sh [--keep]    as root; --keep leaves the root in place afterwards
#
# It checks HEAD, as committed. The root and the logs live in /var/tmp/dunvelt-fresh-debian; each
# run first removes the previous run's root, and removes its own at the end unless told to keep it.
set -euo pipefail

release=bookworm # the release the README's set-up is written for
state=/var/tmp/dunvelt-fresh-debian
root="$state/root"
checkout=/root/dunvelt # where the clone lives inside the root
source=$(cd "$(dirname "$0")/.." && pwd)

fail() {
  echo "$*" >&2
  exit 1
}

keep=false
case ${1:-} in
"") ;;
--keep) keep=true ;;
*) fail "usage: $0 [--keep]" ;;
esac
[[ $(id -u) -eq 0 ]] ||
  fail "Run it as root (sudo $0): it installs packages as root inside the root it makes."
missing=()
command -v mmdebstrap >/dev/null || missing+=(mmdebstrap)
command -v bwrap >/dev/null || missing+=(bubblewrap)
[[ ${#missing[@]} -eq 0 ]] ||
  fail "It needs ${missing[*]}: install with scripts/install-deps.sh ${missing[*]}, then run again."

# The archive addresses come from the machine's own apt sources, for the release it runs, which
# need not be the one checked: Debian serves every release from the same archives.
# shellcheck source-path=SCRIPTDIR source=apt-sources.sh
. "$source/scripts/apt-sources.sh"
host_release=$(codename)
archives=$(apt_archives "$host_release")
# The apt line for SUITE, with the address and keyring of the machine's entry for SUITE_OF_HOST;
# nothing when the machine has no such entry.
apt_line() {
  local suite=$1 suite_of_host=$2 uri keyring
  read -r uri keyring < <(awk -v suite="$suite_of_host" '$1 == suite { print $2, $3; exit }' \
    <<<"$archives") || return 0
  echo "deb ${keyring:+[signed-by=$keyring] }$uri $suite main"
}
bootstrap_sources=("$(apt_line "$release" "$host_release")")
[[ -n ${bootstrap_sources[0]} ]] ||
  fail "No Debian archive for $host_release in the apt sources, so the root cannot be made."
updates=$(apt_line "$release-updates" "$host_release-updates")
[[ -z $updates ]] || bootstrap_sources+=("$updates")
security=$(apt_line "$release-security" "$host_release-security")

started=$SECONDS
mkdir -p "$state"
exec 9>"$state/lock"
flock -n 9 || fail "Another check is running in $state."
# --one-file-system: a run cut short inside mmdebstrap may leave the host's /proc or /dev mounted
# in the root, and those must not be emptied.
rm -rf --one-file-system "$root" "$state"/*.log ||
  fail "The previous run's root $root cannot be removed; something is still mounted in it."

duration() { echo "$(($1 / 60)) min $(($1 % 60)) s"; }
size() { du -sxh "$1" | cut -f1; }
finish() {
  if [[ -d $root ]]; then
    if $keep; then
      echo "The root stays at $root ($(size "$root")); remove it with rm -rf --one-file-system $root"
    else
      echo "Removing the root ($(size "$root"))."
      rm -rf --one-file-system "$root"
    fi
  fi
  echo "Logs: $state/*.log"
  echo "Wall time: $(duration $((SECONDS - started)))"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "Making a minbase Debian $release root in $root from ${bootstrap_sources[*]}"
if ! mmdebstrap --variant=minbase --include=git,ca-certificates "$release" "$root" \
  "${bootstrap_sources[@]}" >"$state/mmdebstrap.log" 2>&1; then
  tail -n 20 "$state/mmdebstrap.log" >&2
  fail "mmdebstrap failed; its whole output is in $state/mmdebstrap.log."
fi
# A machine installed from the release has its packages from the release and its updates, and the
# security suite only in its sources until it is upgraded. The root is made the same way. That
# matters while a mirror is part-way through a sync: the i386 libraries that the install adds must
# have the versions of the amd64 ones installed, and when apt has to leave the security suite out,
# only the release's have them.
if [[ -n $security ]]; then
  echo "$security" >>"$root/etc/apt/sources.list"
  echo "Added to the root's apt sources: $security"
else
  echo "The apt sources name no $host_release-security, so the root has no security suite either."
fi
# The root's apt needs the keyrings that the entries name.
awk '$3 != "" { print $3 }' <<<"$archives" | sort -u | while IFS= read -r keyring; do
  [[ -e $root$keyring ]] || install -D -m 644 "$keyring" "$root$keyring"
done

commit=$(git -C "$source" rev-parse HEAD)
[[ -z $(git -C "$source" status --porcelain --untracked-files=no) ]] ||
  echo "The working tree has uncommitted changes; they are not part of the check."
git clone --quiet --no-hardlinks "$source" "$root$checkout"
git -C "$root$checkout" checkout --quiet --detach "$commit"
echo "Checking $(git -C "$source" log -1 --format='%h %s' "$commit")"

# As root, with /proc, /dev, a fresh /tmp and the host's DNS servers, and none of the caller's
# environment, whose locale, say, would hide that a fresh machine may have none. Its own process
# namespace, so that nothing a command leaves running (a wineserver, say) outlives it. Root's
# capabilities are kept, and asked for rather than left to bwrap's default: apt drops to its _apt
# user, dpkg hands files to other owners, and the emulated Wine route maps users in a namespace of
# its own; without them all three fail with "Operation not permitted".
in_root() {
  bwrap --bind "$root" / --proc /proc --dev /dev --perms 1777 --tmpfs /tmp \
    --ro-bind /etc/resolv.conf /etc/resolv.conf --unshare-pid --die-with-parent --cap-add ALL \
    --chdir "$checkout" --clearenv --setenv HOME /root --setenv USER root --setenv LOGNAME root \
    --setenv PATH /usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
# Runs a README command in the root, its output in a log, and shows how it ended.
failures=0
check() {
  local command=$1 name=${1##*/} begun=$SECONDS status=0
  local log="$state/${name%.sh}.log"
  echo
  echo "Running $command in the root (output in $log)"
  in_root "$command" >"$log" 2>&1 </dev/null || status=$?
  tail -n 15 "$log" | sed 's/^/  | /'
  echo "$command ended with $status after $(duration $((SECONDS - begun)))."
  [[ $status -eq 0 ]] || failures=$((failures + 1))
}
check scripts/build.sh
check scripts/test.sh

echo
if [[ $failures -eq 0 ]]; then
  echo "Both README commands passed on a fresh Debian $release."
else
  echo "$failures of the two README commands failed on a fresh Debian $release."
  exit 1
fi
