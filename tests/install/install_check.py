#!/usr/bin/env python3
"""Checks of the installed layout, run by CTest (label "install").

  install  BUILD PREFIX          cmake --install of the build tree into PREFIX
  layout   PREFIX                files, SONAMEs, run paths; programs start from PREFIX
  consumer PREFIX SOURCE WORK    a C program built with pkg-config and with
                                 find_package(Ferrolink), run against scansim
  oplog    PREFIX WORK           ferroctl reads the log in the user's state folder
  validate PREFIX                desktop entry, AppStream, user units, udev rules
  completion PREFIX WORK        bash completions offer options, verbs, COM names
  man      PREFIX                pages render without warnings; their options
                                 and verbs are those of each program's help
  packages BUILD SOURCE WORK     CPack .deb packages: lintian, control fields,
                                 dpkg -x, consumer and programs from the unpacked root
"""

import gzip
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PROGRAMS = ["ferroctl", "quillon", "vantrel", "ovrixd", "scansim"]


class Failure(Exception):
    pass


def run(args, env=None, cwd=None, check=True, timeout=300):
    merged = dict(os.environ)
    if env:
        merged.update(env)
    done = subprocess.run(args, env=merged, cwd=cwd, capture_output=True, text=True,
                          timeout=timeout)
    if check and done.returncode != 0:
        raise Failure("%s: status %d\n%s%s" % (" ".join(args), done.returncode, done.stdout,
                                                done.stderr))
    return done


def expect(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, what, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


def lib_dir(prefix):
    for candidate in ("lib", "lib/x86_64-linux-gnu", "lib64"):
        if os.path.exists(os.path.join(prefix, candidate, "libferrolink.so")):
            return os.path.join(prefix, candidate)
    raise Failure("no libferrolink.so under " + prefix)


def dynamic_entries(path):
    out = run(["readelf", "-d", path]).stdout
    entries = {}
    for kind, value in re.findall(r"\((\w+)\)\s+[^\[]*\[([^\]]*)\]", out):
        entries.setdefault(kind, []).append(value)
    return entries


# ---------------------------------------------------------------- install


def cmd_install(build, prefix):
    if os.path.exists(prefix):
        shutil.rmtree(prefix)
    run(["cmake", "--install", build, "--prefix", prefix])


# ---------------------------------------------------------------- layout


def cmd_layout(prefix):
    lib = lib_dir(prefix)
    rel_lib = os.path.relpath(lib, prefix)
    expected = [
        "bin/ferroctl", "bin/quillon", "bin/vantrel", "bin/ovrixd", "bin/scansim",
        rel_lib + "/libferrolink.so.1", rel_lib + "/libtidestream.so.1",
        rel_lib + "/pkgconfig/ferrolink.pc",
        rel_lib + "/cmake/Ferrolink/FerrolinkConfig.cmake",
        rel_lib + "/cmake/Ferrolink/FerrolinkConfigVersion.cmake",
        rel_lib + "/cmake/Ferrolink/FerrolinkTargets.cmake",
        "include/ferrolink/ferrolink.h", "include/ferrolink/record.h",
        "include/ferrolink/tidestream/tidestream.h",
        "lib/udev/rules.d/60-ferrolink.rules",
        "lib/systemd/user/ovrixd.service", "lib/systemd/user/quillon-headless.service",
        "share/applications/quillon.desktop",
        "share/metainfo/io.github.ferrolink.quillon.metainfo.xml",
        "share/icons/hicolor/scalable/apps/quillon.svg",
        "share/man/man3/ferrolink.3.gz",
    ] + ["share/icons/hicolor/%dx%d/apps/quillon.png" % (s, s) for s in (16, 32, 48, 64, 128, 256)] \
      + ["share/bash-completion/completions/" + p for p in PROGRAMS] \
      + ["share/man/man1/%s.1.gz" % p for p in PROGRAMS]
    missing = [f for f in expected if not os.path.exists(os.path.join(prefix, f))]
    expect(not missing, "missing from the installed tree: " + ", ".join(missing))

    # Every header the public ones include is installed too.
    include = os.path.join(prefix, "include")
    for root, _, files in os.walk(os.path.join(include, "ferrolink")):
        for name in files:
            text = open(os.path.join(root, name)).read()
            for inc in re.findall(r'#include\s+"([^"]+)"', text):
                expect(os.path.exists(os.path.join(include, inc)),
                       "%s includes %s, which is not installed" % (name, inc))

    # SONAMEs; the .so names are links to the versioned files.
    for name in ("libferrolink", "libtidestream"):
        real = os.path.realpath(os.path.join(lib, name + ".so"))
        expect(re.search(r"\.so\.1\.\d+\.\d+$", real), name + ".so points at " + real)
        expect(dynamic_entries(real).get("SONAME") == [name + ".so.1"],
               name + ": SONAME " + str(dynamic_entries(real).get("SONAME")))

    # Programs that link our libraries find them from wherever the tree is.
    for program in ("ferroctl", "quillon"):
        paths = dynamic_entries(os.path.join(prefix, "bin", program))
        runpath = paths.get("RUNPATH", []) + paths.get("RPATH", [])
        expect(runpath == ["$ORIGIN/../" + rel_lib], program + " run path " + str(runpath))
    env = {"LD_LIBRARY_PATH": "", "QT_QPA_PLATFORM": "offscreen"}
    for program, flag, pattern in (("ferroctl", "--version", r"^ferroctl \d+\.\d+\.\d+"),
                                   ("quillon", "--version", r"^Quillon \d"),
                                   ("scansim", "--version", r"^scansim \d"),
                                   ("ovrixd", "--version", r"^ovrixd \d")):
        out = run([os.path.join(prefix, "bin", program), flag], env=env).stdout
        expect(re.search(pattern, out), "%s %s printed %r" % (program, flag, out))
    ldd = run(["ldd", os.path.join(prefix, "bin", "ferroctl")], env=env).stdout
    for name in ("libferrolink.so.1", "libtidestream.so.1"):
        found = re.search(r"^\s*%s => (\S+)" % re.escape(name), ldd, re.M)
        expect(found and os.path.realpath(found.group(1)) ==
               os.path.realpath(os.path.join(lib, name)),
               "ferroctl does not take %s from the tree:\n%s" % (name, ldd))


# ---------------------------------------------------------------- consumer


class Scanner:
    """scansim from the installed tree, as a USB scanner in a private namespace."""

    def __init__(self, bindir, serial, env):
        self.runtime = tempfile.mkdtemp(prefix="ktr-install-")  # 0700
        os.chmod(self.runtime, 0o700)
        self.proc = subprocess.Popen(
            [os.path.join(bindir, "scansim"), "--usb", serial.lower(), "--serial", serial,
             "--runtime-dir", self.runtime],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        usb = os.path.join(self.runtime, "usb")
        wait_for(lambda: os.path.isdir(usb) and os.listdir(usb) or self.proc.poll() is not None,
                 "scansim's usb/ link")
        if self.proc.poll() is not None:
            raise Failure("scansim ended: " + self.proc.stdout.read().decode(errors="replace"))

    def close(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)


def build_consumers(prefix, source, work, env):
    """Builds the consumer once with pkg-config and once with CMake; returns both programs."""
    lib = lib_dir(prefix)
    consumer_src = os.path.join(source, "tests", "install", "consumer")
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    pc_env = dict(env, PKG_CONFIG_PATH=os.path.join(lib, "pkgconfig"), PKG_CONFIG_LIBDIR="")
    modversion = run(["pkg-config", "--modversion", "ferrolink"], env=pc_env).stdout.strip()
    expect(re.match(r"^\d+\.\d+\.\d+$", modversion), "pkg-config version " + modversion)
    flags = run(["pkg-config", "--cflags", "--libs", "ferrolink"], env=pc_env).stdout.split()
    expect("-I" + os.path.join(os.path.realpath(prefix), "include") in
           [("-I" + os.path.realpath(f[2:])) for f in flags if f.startswith("-I")],
           "pkg-config --cflags does not name the tree's include folder: " + " ".join(flags))
    with_pc = os.path.join(work, "consumer-pkgconfig")
    run(["cc", "-std=c17", "-Wall", "-Wextra", "-Werror", "-o", with_pc,
         os.path.join(consumer_src, "consumer.c")] + flags, env=pc_env)

    cmake_build = os.path.join(work, "cmake-build")
    run(["cmake", "-S", consumer_src, "-B", cmake_build, "-G", "Ninja",
         "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_C_FLAGS=-Wall -Wextra -Werror"], env=env)
    run(["cmake", "--build", cmake_build], env=env)
    return with_pc, os.path.join(cmake_build, "consumer")


def run_consumers(programs, bindir, env):
    scanner = Scanner(bindir, "INST0042", env)
    try:
        for program in programs:
            run_env = dict(env, KTR_RUNTIME_DIR=scanner.runtime)
            done = run([program, "INST0042"], env=run_env, check=False, timeout=60)
            expect(done.returncode == 0,
                   "%s did not find the scanner INST0042 (status %d):\n%s%s" %
                   (program, done.returncode, done.stdout, done.stderr))
            expect(re.search(r"^0 .+ INST0042$", done.stdout, re.M), done.stdout)
        # The same consumer without any scanner finds none and says so.
        scanner.close()
        for program in programs:
            done = run([program, "INST0042"],
                       env=dict(env, KTR_RUNTIME_DIR=tempfile.mkdtemp(prefix="ktr-empty-")),
                       check=False, timeout=60)
            expect(done.returncode == 1 and done.stdout == "",
                   "%s found a scanner where there is none: %r" % (program, done.stdout))
    finally:
        scanner.close()


def cmd_consumer(prefix, source, work):
    env = {"LD_LIBRARY_PATH": ""}
    programs = build_consumers(prefix, source, work, env)
    # The pkg-config build carries no run path: it is told where the tree is.
    lib = lib_dir(prefix)
    run_consumers([programs[1]], os.path.join(prefix, "bin"), env)
    run_consumers([programs[0]], os.path.join(prefix, "bin"), dict(env, LD_LIBRARY_PATH=lib))


# ---------------------------------------------------------------- oplog


def cmd_oplog(prefix, work):
    if os.path.exists(work):
        shutil.rmtree(work)
    state = os.path.join(work, "state")
    ferroctl = os.path.join(prefix, "bin", "ferroctl")
    env = {"XDG_STATE_HOME": state, "HOME": os.path.join(work, "home")}
    os.makedirs(env["HOME"])
    # No folder: the message names both places.
    done = run([ferroctl, "oplog", "2026-01-02"], env=env, check=False)
    expect(done.returncode == 1, "oplog without a log folder: status %d" % done.returncode)
    expect(os.path.join(prefix, "bin", "log") in done.stderr and
           os.path.join(state, "ferrolink", "log") in done.stderr,
           "oplog names neither folder: " + done.stderr)
    expect(not os.path.exists(os.path.join(state, "ferrolink")), "oplog made the state folder")
    # The user's state folder is read when no folder is beside the program.
    folder = os.path.join(state, "ferrolink", "log")
    os.makedirs(folder)
    with open(os.path.join(folder, "2026-01-02.ini"), "w") as f:
        f.write("[10:11:12.013]\nDevSn=SN77\nOpeCommand=Update\nOpeFile=/tmp/a.bin\n"
                "ErrorInfo=0\nstrError=\n")
    done = run([ferroctl, "oplog", "2026-01-02"], env=env)
    expect("10:11:12.013" in done.stdout and "SN=SN77" in done.stdout, done.stdout)


# ---------------------------------------------------------------- validate


def udev_check(rules_file):
    """The rules file read by udev: no complaint about it, and nothing of it
    applied to a tty that is no scanner (tty0 has no USB parent). udevadm
    verify checks the syntax where it exists; udevadm test runs with the file as
    the only local rules and a private /run and /dev (it records the device and
    makes links there), in a private mount namespace."""
    if run(["udevadm", "verify", "--help"], check=False).returncode == 0:
        run(["udevadm", "verify", "--no-summary", rules_file])
    rules_dir = tempfile.mkdtemp(prefix="udev-rules-")
    try:
        shutil.copy(rules_file, rules_dir)
        script = ('mount --bind "$1" /etc/udev/rules.d && mount -t tmpfs tmpfs /run && '
                  'mount -t tmpfs tmpfs /dev && udevadm test /sys/class/tty/tty0 2>&1')
        done = None
        for unshare in (["unshare", "-m"], ["unshare", "-rm"]):
            done = run(unshare + ["sh", "-c", script, "sh", rules_dir], check=False)
            if "Reading rules file: /etc/udev/rules.d/60-ferrolink.rules" in done.stdout:
                break
        expect("Reading rules file: /etc/udev/rules.d/60-ferrolink.rules" in done.stdout,
               "udevadm test did not read the rules:\n" + done.stdout + done.stderr)
        complaints = re.findall(r"^.*/etc/udev/rules.d/60-ferrolink.rules:.*$", done.stdout, re.M)
        expect(not complaints, "udevadm on 60-ferrolink.rules:\n" + "\n".join(complaints))
        properties = done.stdout.split("Properties:", 1)[-1]
        expect(not re.search(r"^ID_MM_DEVICE_IGNORE=|^DEVLINKS=.*ferrolink|^TAGS=.*uaccess",
                             properties, re.M),
               "the rules reach tty0, no scanner:\n" + properties)
    finally:
        shutil.rmtree(rules_dir, ignore_errors=True)


def cmd_validate(prefix):
    share = os.path.join(prefix, "share")
    done = run(["desktop-file-validate", os.path.join(share, "applications", "quillon.desktop")])
    expect(done.stdout.strip() == "", "desktop-file-validate: " + done.stdout)
    run(["appstreamcli", "validate", "--no-net", "--pedantic",
         os.path.join(share, "metainfo", "io.github.ferrolink.quillon.metainfo.xml")])
    units = os.path.join(prefix, "lib", "systemd", "user")
    for unit in ("ovrixd.service", "quillon-headless.service"):
        path = os.path.join(units, unit)
        found = re.search(r"^ExecStart=(\S+)", open(path).read(), re.M)
        exec_start = found.group(1) if found else "(none)"
        expect(exec_start == os.path.join(prefix, "bin", unit.split(".")[0].split("-")[0]),
               unit + ": ExecStart " + exec_start)
        done = run(["systemd-analyze", "verify", "--man=no", path], check=False)
        complaints = [line for line in (done.stdout + done.stderr).splitlines()
                      if unit in line or "Failed" in line]
        expect(done.returncode == 0 and not complaints,
               "systemd-analyze verify %s:\n%s%s" % (unit, done.stdout, done.stderr))
    udev_check(os.path.join(prefix, "lib", "udev", "rules.d", "60-ferrolink.rules"))


# ---------------------------------------------------------------- man


OPTION = re.compile(r"(?<![\w\\-])(--?[A-Za-z][A-Za-z0-9-]*)")


def roff_sections(page):
    """Section name -> plain text of a generated man page."""
    text = gzip.open(page, "rt").read()
    text = re.sub(r"\\f[BIRP]", "", text).replace("\\-", "-").replace("\\&", "")
    sections, name = {}, None
    for line in text.splitlines():
        m = re.match(r'^\.SH "?([^"]+)"?', line)
        if m:
            name = m.group(1).strip()
            sections[name] = []
        elif name and not line.startswith("."):
            sections[name].append(line)
    return {k: "\n".join(v) for k, v in sections.items()}


def help_text(prefix, program, args, runtime):
    env = {"KTR_RUNTIME_DIR": runtime, "QT_QPA_PLATFORM": "offscreen", "LD_LIBRARY_PATH": ""}
    done = run([os.path.join(prefix, "bin", program)] + args, env=env, check=False, timeout=30)
    return done.stdout + done.stderr


def cmd_man(prefix):
    man = os.path.join(prefix, "share", "man")
    pages = [os.path.join(man, "man1", p + ".1.gz") for p in PROGRAMS] + \
        [os.path.join(man, "man3", "ferrolink.3.gz")]
    problems = []
    for page in pages:
        done = run(["man", "--warnings", "-l", "-E", "UTF-8", page],
                   env={"LC_ALL": "C.UTF-8", "MANROFFSEQ": "", "MANWIDTH": "80"})
        if done.stderr.strip():
            problems.append("%s renders with warnings:\n%s" % (page, done.stderr))
        if "NAME" not in done.stdout or "SEE ALSO" not in done.stdout:
            problems.append(page + " renders without its sections")

    runtime = tempfile.mkdtemp(prefix="ktr-man-")
    try:
        for program in PROGRAMS:
            page = os.path.join(man, "man1", program + ".1.gz")
            sections = roff_sections(page)
            documented = set(OPTION.findall("\n".join(
                sections.get(name, "") for name in ("SYNOPSIS", "OPTIONS", "VERBS"))))
            # The flag that prints the help counts as one the help names.
            flag = "--help"
            shown = help_text(prefix, program, [flag], runtime)
            helped = set(OPTION.findall(shown)) | {flag}
            if program == "ferroctl":
                verbs = re.findall(r"^  ([a-z][a-z-]+)\s", shown.split("Verbs:")[1], re.M)
                expect(len(verbs) > 5, "ferroctl --help lists no verbs:\n" + shown)
                roff = gzip.open(page, "rt").read()
                term_verbs = re.findall(r"^\\fB([a-z][a-z-]+)\\fR.*\n\.RS",
                                        roff.split(".SH VERBS")[1].split(".SH ")[0], re.M)
                if sorted(term_verbs) != sorted(verbs):
                    problems.append("ferroctl verbs: page %s, help %s" %
                                    (sorted(term_verbs), sorted(verbs)))
                for verb in verbs:
                    helped |= set(OPTION.findall(help_text(prefix, program, [verb, "--help"],
                                                           runtime)))
            if documented != helped:
                problems.append("%s: only in the page %s, only in --help %s" %
                                (program, sorted(documented - helped),
                                 sorted(helped - documented)))
    finally:
        shutil.rmtree(runtime, ignore_errors=True)
    expect(not problems, "\n".join(problems))


# ---------------------------------------------------------------- completion


def complete(prefix, program, words, env):
    """The candidates the installed completion offers for the last word."""
    script = (
        'source /usr/share/bash-completion/bash_completion\n'
        'source "$1/share/bash-completion/completions/$2"\n'
        'shift 2\n'
        'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))\n'
        'COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}\n'
        'func=$(complete -p "${COMP_WORDS[0]}" | sed -E "s/.*-F ([^ ]+) .*/\\1/")\n'
        '"$func" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"\n'
        'printf "%s\\n" "${COMPREPLY[@]}"\n')
    done = run(["bash", "-c", script, "bash", prefix, program, program] + words, env=env)
    return set(line for line in done.stdout.splitlines() if line)


def cmd_completion(prefix, work):
    if os.path.exists(work):
        shutil.rmtree(work)
    runtime = os.path.join(work, "ktr")
    os.makedirs(os.path.join(runtime, "dosdevices"), mode=0o700)
    os.symlink("/dev/null", os.path.join(runtime, "dosdevices", "COM7"))
    os.symlink("/dev/null", os.path.join(runtime, "dosdevices", "COM12"))
    os.symlink(os.path.join(work, "gone"), os.path.join(runtime, "dosdevices", "COM9"))
    env = {"KTR_RUNTIME_DIR": runtime, "HOME": work}
    problems = []
    # (program, words up to the one completed, candidates that must be offered,
    #  candidates that must not)
    cases = [
        ("vantrel", [""], {"COM7", "COM12"}, {"COM9"}),
        ("vantrel", ["COM1"], {"COM12"}, {"COM7"}),
        ("vantrel", ["--echo-chunk-m"], {"--echo-chunk-maxbytes=", "--echo-chunk-minbytes="},
         {"--echo-maxbytes="}),
        ("ferroctl", ["save-"], {"save-office", "save-config"}, {"send"}),
        ("ferroctl", ["send", "--"], {"--hex"}, {"--index"}),
        ("ovrixd", ["--lifemode", ""], {"temporal", "friendly", "persistent"}, {"--pair"}),
        ("quillon", ["--send-command", ""], {"1147", "1148", "1149"}, {"--headless"}),
        ("scansim", ["--fault", "d"], {"delay:", "disconnect"}, {"nak"}),
    ]
    for program, words, wanted, unwanted in cases:
        offered = complete(prefix, program, words, env)
        if not wanted <= offered or offered & unwanted:
            problems.append("%s %s: offered %s" % (program, " ".join(words), sorted(offered)))
    # Every option (and ferroctl verb) the help names is offered.
    for program in PROGRAMS:
        flag = "--help"
        shown = help_text(prefix, program, [flag], runtime)
        wanted = set(OPTION.findall(shown)) | {flag}
        offered = set(o.rstrip("=") for o in complete(prefix, program, ["-"], env))
        if program == "ferroctl":
            verbs = set(re.findall(r"^  ([a-z][a-z-]+)\s", shown.split("Verbs:")[1], re.M))
            offered_verbs = complete(prefix, program, [""], env)
            if not verbs <= offered_verbs:
                problems.append("ferroctl: verbs not completed %s" %
                                sorted(verbs - offered_verbs))
            # Each verb's own options, as its --help names them.
            for verb in verbs:
                verb_wanted = set(OPTION.findall(help_text(prefix, program, [verb, "--help"],
                                                           runtime))) | {"--help"}
                verb_offered = complete(prefix, program, [verb, "-"], env)
                if not verb_wanted <= verb_offered:
                    problems.append("ferroctl %s: not completed %s" %
                                    (verb, sorted(verb_wanted - verb_offered)))
            wanted -= {"--hex", "--index"}  # verb options named in the overview
        if not wanted <= offered:
            problems.append("%s: not completed %s" % (program, sorted(wanted - offered)))
    expect(not problems, "\n".join(problems))


# ---------------------------------------------------------------- packages


def deb_field(deb, field):
    return run(["dpkg-deb", "-f", deb, field]).stdout.strip()


def cmd_packages(build, source, work):
    if os.path.exists(work):
        shutil.rmtree(work)
    out = os.path.join(work, "debs")
    os.makedirs(out)
    # The zip of the Windows programs is checked by the Windows build.
    run([os.path.join(source, "scripts", "package"), "--build-dir", build, "--output", out,
         "--no-windows"],
        timeout=900)
    debs = {deb_field(os.path.join(out, f), "Package"): os.path.join(out, f)
            for f in os.listdir(out) if f.endswith(".deb")}
    expect(sorted(debs) == sorted(["libferrolink1", "libferrolink-dev", "ferroctl", "quillon",
                                   "vantrel", "scansim"]), "packages made: " + str(sorted(debs)))

    lint = run(["lintian", "--no-tag-display-limit"] + sorted(debs.values()), check=False)
    errors = [line for line in lint.stdout.splitlines() if line.startswith("E:")]
    expect(not errors, "lintian errors:\n" + "\n".join(errors))

    depends = {name: deb_field(deb, "Depends") for name, deb in debs.items()}
    for name in ("ferroctl", "quillon"):
        expect(re.search(r"\blibferrolink1 \(>= ", depends[name]),
               name + " Depends: " + depends[name])
    expect("libqt6widgets6" in depends["quillon"], "quillon Depends: " + depends["quillon"])
    expect("libudev1" in depends["libferrolink1"], "libferrolink1 Depends: " +
           depends["libferrolink1"])
    expect("libferrolink1 (= " in depends["libferrolink-dev"], depends["libferrolink-dev"])
    recommends = deb_field(debs["quillon"], "Recommends")
    expect("fonts-noto-cjk" in recommends or "fonts-wqy-microhei" in recommends,
           "quillon Recommends: " + recommends)
    control = run(["dpkg-deb", "-I", debs["libferrolink1"]]).stdout
    for script in ("postinst", "postrm", "shlibs"):
        expect(re.search(r"\b%s\b" % script, control), "libferrolink1 has no " + script)
    expect("udevadm control --reload" in extract_control(debs["libferrolink1"], work, "postinst"),
           "postinst does not reload the udev rules")

    root = os.path.join(work, "root")
    for deb in debs.values():
        run(["dpkg", "-x", deb, root])
    listing = run(["find", root, "-path", "*/usr/local*"]).stdout.strip()
    expect(listing == "", "files under /usr/local:\n" + listing)
    prefix = os.path.join(root, "usr")
    for program in ("ferroctl", "quillon"):
        paths = dynamic_entries(os.path.join(prefix, "bin", program))
        expect(not paths.get("RUNPATH") and not paths.get("RPATH"),
               program + " keeps a run path in the package: " + str(paths))
    cmd_validate_packaged(prefix)
    lib = lib_dir(prefix)
    env = {"LD_LIBRARY_PATH": lib}
    programs = build_consumers(prefix, source, os.path.join(work, "consumer"), env)
    run_consumers(programs, os.path.join(prefix, "bin"), env)


def extract_control(deb, work, member):
    target = os.path.join(work, "control-" + os.path.basename(deb))
    run(["dpkg-deb", "-e", deb, target])
    path = os.path.join(target, member)
    return open(path).read() if os.path.exists(path) else ""


def cmd_validate_packaged(prefix):
    share = os.path.join(prefix, "share")
    run(["desktop-file-validate", os.path.join(share, "applications", "quillon.desktop")])
    for unit in ("ovrixd.service", "quillon-headless.service"):
        text = open(os.path.join(prefix, "lib", "systemd", "user", unit)).read()
        expect(re.search(r"^ExecStart=/usr/bin/", text, re.M), unit + ": " + text)


def main(argv):
    commands = {"install": (cmd_install, 2), "layout": (cmd_layout, 1),
                "consumer": (cmd_consumer, 3), "oplog": (cmd_oplog, 2),
                "validate": (cmd_validate, 1), "man": (cmd_man, 1),
                "completion": (cmd_completion, 2),
                "packages": (cmd_packages, 3)}
    if len(argv) < 2 or argv[1] not in commands or len(argv) - 2 != commands[argv[1]][1]:
        sys.stderr.write(__doc__)
        return 2
    try:
        commands[argv[1]][0](*argv[2:])
    except Failure as failure:
        sys.stderr.write("FAILED: %s\n" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
