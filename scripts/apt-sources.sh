# shellcheck shell=bash
# The Debian archives in the machine's own apt sources, read from both of apt's formats: the
# one-line .list files and the deb822 .sources files. Sourced by the scripts that fetch from the
# archive themselves, so that no archive address is written into the project.

# The suite of the Debian release the machine runs.
codename() {
  # shellcheck source=/dev/null # the system's own release file, not part of the project
  . /etc/os-release && echo "${VERSION_CODENAME:?}"
}

# One line "SUITE URI KEYRING" for each binary-package entry whose suite is RELEASE or one of its
# own (RELEASE-updates, RELEASE-security, RELEASE-backports), in the order apt reads them. KEYRING
# is the file the entry is signed by; it is empty when the entry names none, or gives the key
# inline.
apt_archives() {
  local release=$1 file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $file ]] || continue
    awk -v release="$release" '$1 == "deb" {
      i = 2; keyring = ""
      if ($2 ~ /^\[/) {
        for (; i <= NF; ++i) {
          if ($i ~ /signed-by=/) { keyring = $i; sub(/.*signed-by=/, "", keyring); sub(/\]$/, "", keyring) }
          if ($i ~ /\]$/) { ++i; break }
        }
      }
      suite = $(i + 1)
      if (suite == release || index(suite, release "-") == 1) print suite, $i, keyring
    }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file ]] || continue
    awk -v release="$release" 'BEGIN { RS = ""; FS = "\n" } {
      delete field
      for (i = 1; i <= NF; ++i) {
        colon = index($i, ":")
        if (colon == 0 || $i ~ /^[ \t#]/) continue
        value = substr($i, colon + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
        field[tolower(substr($i, 1, colon - 1))] = value
      }
      if (field["types"] !~ /(^| )deb( |$)/ || field["enabled"] == "no") next
      keyring = (field["signed-by"] ~ /^\//) ? field["signed-by"] : ""
      suites = split(field["suites"], suite, " "); uris = split(field["uris"], uri, " ")
      for (s = 1; s <= suites; ++s)
        if (suite[s] == release || index(suite[s], release "-") == 1)
          for (u = 1; u <= uris; ++u) print suite[s], uri[u], keyring
    }' "$file"
  done
}
