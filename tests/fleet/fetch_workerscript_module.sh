#!/usr/bin/env bash
# Fetches the QtQml.WorkerScript module's plugin from Debian's package
# qml-module-qtqml-workerscript2 with apt-get download and unpacks it into
# FOLDER, once; fleet_devices_workerscript_module takes it from there. Runs
# outside the tests' network namespaces, since it needs Debian's archive;
# where the package cannot be had the test that needs it says so and skips.
# Usage: fetch_workerscript_module.sh FOLDER
folder=${1:?usage: fetch_workerscript_module.sh FOLDER}
[ -d "$folder/usr" ] && exit 0
fetched=$(mktemp -d)
trap 'rm -rf "$fetched"' EXIT
cd "$fetched" || exit 1
# A fresh machine may not have the package lists yet.
apt-get download -q qml-module-qtqml-workerscript2 > /dev/null 2>&1 ||
    { [ "$(id -u)" -eq 0 ] && apt-get update -qq > /dev/null 2>&1 &&
      apt-get download -q qml-module-qtqml-workerscript2 > /dev/null 2>&1; } ||
    { echo "SKIPPED: cannot fetch qml-module-qtqml-workerscript2 with apt-get download"; exit 77; }
mkdir -p "$folder" && dpkg -x ./*.deb "$folder"
