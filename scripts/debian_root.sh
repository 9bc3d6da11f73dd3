# Sourced, not run: a Debian sid root made with debootstrap, shared by wheel_matrix.sh (Debian's newest
# interpreters) and free_threaded.sh (a free-threaded CPython built inside it). Defines functions only.
#
#   debian_root_ready ROOT            true when ROOT was made to the end
#   debian_root_make ROOT PACKAGE...  makes ROOT anew with PACKAGE... installed
#   debian_root_install ROOT PACKAGE... adds packages to a made root
#   debian_root_enter ROOT            the host's name resolution, certificates, pip settings and /proc inside
#   debian_root_leave ROOT            unmounts what debian_root_enter mounted here

# Runs "$@" up to 4 times, 10 s apart: the mirrors drop a download now and then.
debian_retry() {
    local attempt
    for attempt in 1 2 3 4; do
        "$@" && return 0
        [ "$attempt" -lt 4 ] && echo "debian-root: attempt $attempt of '$*' failed; retrying" >&2 && sleep 10
    done
    return 1
}

# The host's Debian mirror, so that the root is fetched from wherever the host's packages come from.
debian_mirror() {
    local uri
    uri=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n 1)
    [ -n "$uri" ] || uri=$(sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+).*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1)
    echo "${uri%% *}"
}

debian_root_ready() {
    [ -f "$1/.velnor-ready" ]
}

# A snapshot mirror serves Release files past their validity date; what matters is their signature.
debian_root_apt() {
    local root=$1
    shift
    DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get -o Acquire::Check-Valid-Until=false "$@"
}

debian_root_install() {
    local root=$1
    shift
    debian_retry debian_root_apt "$root" install -y -qq --no-install-recommends "$@" || return 1
    chroot "$root" apt-get clean
}

debian_root_make() {
    local root=$1 mirror
    shift
    # Never delete through a mount that an interrupted run left behind.
    umount "$root/proc" 2>/dev/null || true
    rm -rf --one-file-system "$root"
    command -v debootstrap >/dev/null ||
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; } ||
        return 1
    mirror=$(debian_mirror)
    [ -n "$mirror" ] || return 1
    # A failed debootstrap leaves a half root behind, which the next attempt must not build on.
    debian_retry sh -c 'rm -rf --one-file-system "$1" && debootstrap --variant=minbase sid "$1" "$2"' debootstrap "$root" "$mirror" ||
        return 1
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    debian_retry debian_root_apt "$root" update -qq || return 1
    debian_root_install "$root" ca-certificates "$@" || return 1
    touch "$root/.velnor-ready"
}

debian_root_enter() {
    local root=$1
    # The host's name resolution and pip configuration, so that pip inside reaches what it reaches here.
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    # The host's trusted certificates too (a local proxy's own authority may be among them).
    [ -f /etc/ssl/certs/ca-certificates.crt ] && mkdir -p "$root/etc/ssl/certs" &&
        cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
    [ -f /etc/pip.conf ] && cp /etc/pip.conf "$root/etc/pip.conf"
    if [ -d /etc/xdg/pip ]; then
        mkdir -p "$root/etc/xdg" && rm -rf "$root/etc/xdg/pip" && cp -r /etc/xdg/pip "$root/etc/xdg/pip"
    fi
    if [ -d "$HOME/.config/pip" ]; then
        mkdir -p "$root/root/.config" && rm -rf "$root/root/.config/pip" &&
            cp -r "$HOME/.config/pip" "$root/root/.config/pip"
    fi
    if ! mountpoint -q "$root/proc"; then
        mount -t proc proc "$root/proc"
        debian_root_mounted=$root
    fi
}

# Unmounts /proc only when this shell mounted it: another user of the root may still need it.
debian_root_leave() {
    if [ "${debian_root_mounted:-}" = "$1" ]; then
        umount "$1/proc" 2>/dev/null || true
        debian_root_mounted=""
    fi
}
