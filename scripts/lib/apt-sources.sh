# Sourced by scripts/setup-windows.sh (after strict.sh and packages.sh): deb-src entries for the
# machine's apt sources, and the source versions the archive offers. Every function takes the
# apt files it works on as arguments, or works on apt's configuration (which honours APT_CONFIG),
# so that scripts/check-scripts.sh runs them against sources files of its own.

# apt_source_paths: sets apt_sourcelist and apt_sourceparts to the one-line sources file and
# the folder of further sources files that apt uses (Dir::Etc::sourcelist, Dir::Etc::sourceparts).
apt_source_paths() {
  local settings
  apt_sourcelist="" apt_sourceparts=""
  settings=$(apt-config shell apt_sourcelist Dir::Etc::sourcelist/f \
    apt_sourceparts Dir::Etc::sourceparts/d) || return 1
  eval "$settings"
  apt_sourceparts=${apt_sourceparts%/}
}

# deb_src_derive WHAT LIST PARTS NAME: the deb-src entries that the deb entries of LIST (one-line)
# and PARTS/*.list (one-line), PARTS/*.sources (deb822) lack, leaving out PARTS/NAME.list and
# PARTS/NAME.sources. An entry lacks them when one of its archive and suite pairs has no deb-src
# entry in any of the files; its deb-src entry is then the same entry with the type deb-src (one
# line: same options, archive, suite and components; deb822: the stanza with "Types: deb-src").
# WHAT is "list" (the one-line entries), "sources" (the deb822 stanzas, each followed by an
# empty line) or "debs" (how many deb entries the files hold, with or without deb-src). Disabled
# stanzas (Enabled: no) and comments count for nothing.
deb_src_derive() {
  local what=$1 list=$2 parts=$3 name=$4 files=() f
  for f in "$list" "$parts"/*.list "$parts"/*.sources; do
    case $f in "$parts/$name.list" | "$parts/$name.sources") continue ;; esac
    if [ -f "$f" ]; then files+=("$f"); fi
  done
  [ ${#files[@]} -gt 0 ] || {
    [ "$what" != debs ] || echo 0
    return 0
  }
  awk -v what="$what" '
    function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
    function archive(uri) { sub(/\/+$/, "", uri); return uri }
    # Every archive and suite pair of an entry, into have_src (deb-src) or as a check (deb).
    function pairs(uris, suites, src,   nu, ns, u, s, i, j, key, lacking) {
      nu = split(trim(uris), u, /[ \t]+/)
      ns = split(trim(suites), s, /[ \t]+/)
      lacking = ""
      for (i = 1; i <= nu; i++)
        for (j = 1; j <= ns; j++) {
          key = archive(u[i]) " " s[j]
          if (src) have_src[key] = 1
          else lacking = lacking key "\n"
        }
      return lacking
    }
    function end_stanza(   n, t, i, deb, src) {
      if (stanza != "" && enabled) {
        n = split(trim(types_value), t, /[ \t]+/)
        deb = 0; src = 0
        for (i = 1; i <= n; i++) {
          if (t[i] == "deb") deb = 1
          if (t[i] == "deb-src") src = 1
        }
        if (src) pairs(uris_value, suites_value, 1)
        if (deb && !src) {
          debs++
          stanza_text[++stanzas] = stanza
          stanza_pairs[stanzas] = pairs(uris_value, suites_value, 0)
        } else if (deb) debs++
      }
      stanza = ""; field = ""; enabled = 1
      types_value = ""; uris_value = ""; suites_value = ""
    }
    function lacks(list,   n, k, i) {
      n = split(list, k, "\n")
      for (i = 1; i <= n; i++) if (k[i] != "" && !(k[i] in have_src)) return 1
      return 0
    }
    BEGIN { enabled = 1 }
    FNR == 1 { end_stanza(); deb822 = FILENAME ~ /\.sources$/ }
    deb822 && /^[ \t]*$/ { end_stanza(); next }
    deb822 && /^#/ { stanza = stanza $0 "\n"; next }
    deb822 && /^[ \t]/ {
      # A continuation line of the field above.
      if (field == "types") next
      if (field == "uris") uris_value = uris_value " " $0
      if (field == "suites") suites_value = suites_value " " $0
      stanza = stanza $0 "\n"
      next
    }
    deb822 {
      field = tolower(substr($0, 1, index($0, ":") - 1))
      value = trim(substr($0, index($0, ":") + 1))
      if (field == "types") { types_value = value; stanza = stanza "Types: deb-src\n"; next }
      if (field == "uris") uris_value = value
      if (field == "suites") suites_value = value
      if (field == "enabled" && tolower(value) == "no") enabled = 0
      stanza = stanza $0 "\n"
      next
    }
    {
      # One-line entry: TYPE [ OPTIONS ] URI SUITE [COMPONENT...], "#" starts a comment.
      line = $0
      sub(/#.*/, "", line)
      line = trim(line)
      if (line !~ /^deb(-src)?[ \t]/) next
      type = line; sub(/[ \t].*/, "", type)
      rest = trim(substr(line, length(type) + 1))
      if (substr(rest, 1, 1) == "[") rest = trim(substr(rest, index(rest, "]") + 1))
      split(rest, word, /[ \t]+/)
      if (type == "deb-src") { pairs(word[1], word[2], 1); next }
      debs++
      line_text[++lines] = "deb-src" substr(line, 4)
      line_pairs[lines] = pairs(word[1], word[2], 0)
    }
    END {
      end_stanza()
      if (what == "debs") print debs + 0
      if (what == "list")
        for (i = 1; i <= lines; i++) if (lacks(line_pairs[i])) print line_text[i]
      if (what == "sources")
        for (i = 1; i <= stanzas; i++) if (lacks(stanza_pairs[i])) print stanza_text[i]
    }' "${files[@]}"
}

# add_deb_src LIST PARTS NAME: writes the deb-src entries that the sources LIST and PARTS/* lack
# (deb_src_derive) into PARTS/NAME.list (one-line) and PARTS/NAME.sources (deb822), as root when
# PARTS is not writable, and removes the one of those two files that would be empty. Fails with a
# message when the sources hold no deb entry at all; writes nothing when every deb entry has its
# deb-src entry already.
add_deb_src() {
  local list=$1 parts=$2 name=$3 debs kind entries target
  debs=$(deb_src_derive debs "$list" "$parts" "$name") || return 1
  if [ "$debs" -eq 0 ]; then
    echo "$script_name: no deb entry in $list or $parts/*.list, *.sources to take the deb-src" \
      "entries from" >&2
    return 1
  fi
  local writer=()
  [ -w "$parts" ] || writer=(as_root)
  for kind in list sources; do
    entries=$(deb_src_derive "$kind" "$list" "$parts" "$name") || return 1
    target=$parts/$name.$kind
    if [ -n "$entries" ]; then
      echo "Adding deb-src entries: $target"
      printf '%s\n' "$entries" | "${writer[@]}" tee "$target" >/dev/null || return 1
    elif [ -e "$target" ]; then
      "${writer[@]}" rm -f "$target" || return 1
    fi
  done
  if [ ! -e "$parts/$name.list" ] && [ ! -e "$parts/$name.sources" ]; then
    echo "Every deb entry of the apt sources has its deb-src entry already"
  fi
}

# apt_source_versions PACKAGE: the versions of source package PACKAGE that apt's lists offer,
# oldest first; none while the sources have no deb-src entry or their lists are not fetched yet
# (apt-cache exits 100 then).
apt_source_versions() {
  local records
  records=$(apt-cache showsrc "$1" 2>/dev/null) || records=""
  printf '%s\n' "$records" | sed -n 's/^Version: //p' | sort -uV
}

# apt_newest_revision PACKAGE UPSTREAM: the newest Debian revision of upstream version UPSTREAM
# of source package PACKAGE that apt's lists offer (UPSTREAM-*), or nothing.
apt_newest_revision() {
  apt_source_versions "$1" | awk -v prefix="$2-" 'index($0, prefix) == 1' | tail -n 1
}
