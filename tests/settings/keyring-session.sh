#!/bin/sh
# Runs a test on a private session bus with its own gnome-keyring, in a scratch home, so the
# user's keyring is never touched. Where the keyring cannot start the test still runs, told so
# through HM_KEYRING_UNAVAILABLE, and skips what needs it.
set -u
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/run"
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/run"
unset GNOME_KEYRING_CONTROL
if ! command -v dbus-run-session >/dev/null || ! command -v gnome-keyring-daemon >/dev/null; then
    HM_KEYRING_UNAVAILABLE="dbus-run-session or gnome-keyring-daemon is not installed" "$@"
    exit $?
fi
dbus-run-session -- sh -c '
    # A login keyring made with a password is unlocked at once; an empty one asks a prompter.
    if ! printf "test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>"$XDG_RUNTIME_DIR/keyring.err"; then
        export HM_KEYRING_UNAVAILABLE="gnome-keyring-daemon did not start: $(cat "$XDG_RUNTIME_DIR/keyring.err")"
    fi
    # The daemon leaves with the bus when the test ends.
    exec "$@"' sh "$@"
