#!/usr/bin/env python3
"""kerbilo-cli killed with SIGKILL at random moments while it writes: a replacement saved
over a file (renamed over it), the same over a file with a second hard link (written in
place, its old bytes kept in a backup meanwhile), export all into a folder, and Resource.ini.

After every kill, each target holds either its whole old bytes or its whole new ones, and
nothing stands beside it: no temporary file (a file is written unnamed and named only once
complete). The in-place write is the exception by design: a kill while it overwrites leaves
the target half written and a backup beside it, which must hold the old bytes whole; the
test restores from it as a user would. The only other file a kill may leave is a complete
temporary of ours in the instant between its naming and its rename; the next run into that
folder must remove it. That is counted and printed.

Usage: kill_safety.py KERBILO_CLI [MiB [KILLS]]
The size of the replaced file (default 8 MiB) and the number of kills (default 200) may
also come from KERBILO_KILL_MIB and KERBILO_KILLS; by hand, for example
    KERBILO_KILL_MIB=256 python3 tests/cli/kill_safety.py build/src/cli/kerbilo-cli
"""

import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TEMPORARY = re.compile(r"^\.kerbilo-[0-9]+-[A-Za-z0-9]{6}\.tmp$")
BACKUP = re.compile(r"^\..*\.[A-Za-z0-9]{6}\.kerbilo-backup$")
PNG = b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR"
PNG_END = b"\0\0\0\0IEND\xaeB`\x82"


def digest(path):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 22)
            if not block:
                return h.hexdigest()
            h.update(block)


def picture(rng, body):
    return PNG + rng.randbytes(body) + PNG_END


class Run:
    """One scenario: how to start it, what its targets may hold after a kill."""

    def __init__(self, name, folder):
        self.name = name
        self.folder = folder
        self.seconds = 0.0  # an uninterrupted run
        self.kills = 0
        self.old = 0  # kills after which the targets held their old bytes
        self.new = 0
        self.mixed = 0  # export all: some files written, the rest not yet
        self.restored = 0  # in place: restored from the backup
        self.backups = 0  # in place: a backup beside a whole target, removed
        self.leftovers = 0  # temporaries named but not yet renamed when killed


class Test:
    def __init__(self, cli, mib, kills):
        self.rng = random.Random(int(os.environ.get("KERBILO_KILL_SEED", time.time_ns())))
        self.work = tempfile.mkdtemp(prefix="kerbilo-kill-")
        self.mib = mib
        self.kills = kills
        self.failures = []
        # A copy of the program keeps its settings (Resource.ini) beside itself, in here.
        bindir = os.path.join(self.work, "bin")
        os.mkdir(bindir)
        self.cli = os.path.join(bindir, "kerbilo-cli")
        shutil.copy2(cli, self.cli)
        self.env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")

    def fail(self, what):
        self.failures.append(what)
        print("FAIL:", what, flush=True)

    def run(self, args, check=True):
        started = time.monotonic()
        done = subprocess.run([self.cli] + args, env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
        if check and done.returncode != 0:
            self.fail("%s exited %d: %s" % (" ".join(args), done.returncode,
                                            done.stderr.decode(errors="replace")))
        return time.monotonic() - started

    def killed(self, args, seconds):
        """Starts the command and kills it after a random share of an uninterrupted run."""
        child = subprocess.Popen([self.cli] + args, env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        time.sleep(self.rng.uniform(0, seconds * 1.1))
        child.send_signal(signal.SIGKILL)
        child.wait()

    # ---- the files ----------------------------------------------------------------------

    def setup(self):
        rng = self.rng
        size = self.mib << 20
        src = os.path.join(self.work, "src")
        os.mkdir(src)
        # Two inputs different throughout, so that a file half of one and half of the other
        # matches neither; each begins with a picture a replacement takes.
        self.inputs = []
        for name in ("a.bin", "b.bin"):
            path = os.path.join(src, name)
            with open(path, "wb") as f:
                f.write(picture(rng, 64))
                left = size - 64 - len(PNG) - len(PNG_END)
                while left > 0:
                    block = rng.randbytes(min(left, 1 << 22)).replace(b"\x89PNG", b"\x88PNG")
                    f.write(block)
                    left -= len(block)
            self.inputs.append(path)
        self.with_file = os.path.join(src, "new.png")
        with open(self.with_file, "wb") as f:
            f.write(picture(rng, 64))
        # Many small resources for export all, as a carver's input has them.
        self.many = os.path.join(src, "many.bin")
        with open(self.many, "wb") as f:
            for _ in range(400):
                f.write(rng.randbytes(rng.randrange(8, 64)).replace(b"\x89PNG", b"\x88PNG"))
                f.write(picture(rng, rng.randrange(16, 4096)))

    def entries(self, folder):
        return set(os.listdir(folder))

    # ---- replace, renamed over the old file ------------------------------------------------

    def replace_setup(self, run, linked):
        os.makedirs(run.folder)
        run.target = os.path.join(run.folder, "out.bin")
        run.results = []
        for i, path in enumerate(self.inputs):
            out = os.path.join(self.work, "result%d.bin" % i)
            if not os.path.exists(out):
                self.run(["replace", path, "--resource", "1", "--with", self.with_file, "--yes",
                          "-o", out])
            run.results.append(digest(out))
        shutil.copyfile(os.path.join(self.work, "result0.bin"), run.target)
        run.expected = {"out.bin"}
        if linked:
            os.link(run.target, os.path.join(run.folder, "twin.bin"))
            run.expected.add("twin.bin")
        run.state = 0  # which result the target holds
        run.seconds = self.run(self.replace_args(run))
        run.state = 1

    def replace_args(self, run):
        return ["replace", self.inputs[1 - run.state], "--resource", "1", "--with",
                self.with_file, "--yes", "-o", run.target]

    def replace_round(self, run, linked):
        before, after = run.results[run.state], run.results[1 - run.state]
        self.killed(self.replace_args(run), run.seconds)
        run.kills += 1
        now = digest(run.target)
        extra = self.entries(run.folder) - run.expected
        backups = {e for e in extra if BACKUP.match(e)}
        temporaries = {e for e in extra if TEMPORARY.match(e)}
        strangers = extra - backups - temporaries
        if strangers:
            self.fail("%s: left beside the target: %s" % (run.name, sorted(strangers)))
            for e in strangers:
                os.unlink(os.path.join(run.folder, e))
        if backups and not linked:
            self.fail("%s: a backup where the file is replaced by rename: %s" %
                      (run.name, sorted(backups)))
        if len(backups) > 1:
            self.fail("%s: more than one backup: %s" % (run.name, sorted(backups)))
        for b in backups:
            kept = os.path.join(run.folder, b)
            if digest(kept) != before:
                self.fail("%s: the backup %s does not hold the old bytes" % (run.name, b))
            if now not in (before, after):
                # Half written in place: the backup restores it, as a user would.
                with open(kept, "rb") as f, open(run.target, "r+b") as t:
                    shutil.copyfileobj(f, t)
                    t.truncate()
                now = digest(run.target)
                run.restored += 1
            else:
                run.backups += 1
            os.unlink(kept)
        if temporaries:
            run.leftovers += len(temporaries)
            run.pending_leftovers = temporaries
        if now == before:
            run.old += 1
        elif now == after:
            run.new += 1
            run.state = 1 - run.state
        else:
            self.fail("%s: the target is neither the old file nor the new one" % run.name)
            shutil.copyfile(os.path.join(self.work, "result%d.bin" % run.state), run.target)
        if linked and digest(os.path.join(run.folder, "twin.bin")) != digest(run.target):
            self.fail("%s: the other link no longer names the same file" % run.name)

    # ---- export all -----------------------------------------------------------------------

    def export_setup(self, run):
        os.makedirs(run.folder)
        reference = os.path.join(self.work, "reference")
        run.seconds = self.run(["export", self.many, "--out", reference])
        # The manifest names the folder written: the same folder each time, so it can be
        # compared byte for byte.
        shutil.rmtree(reference)
        self.run(["export", self.many, "--out", run.folder])
        out = os.path.join(run.folder, "many.bin")
        run.expected = {e: digest(os.path.join(out, e)) for e in os.listdir(out)}
        run.out = out

    def export_round(self, run):
        # Half the rounds into an empty folder, half over the files of the last run.
        if self.rng.random() < 0.5 and os.path.isdir(run.out):
            shutil.rmtree(run.out)
        self.killed(["export", self.many, "--out", run.folder], run.seconds)
        run.kills += 1
        if not os.path.isdir(run.out):
            run.old += 1
            return
        found = self.entries(run.out)
        temporaries = {e for e in found if TEMPORARY.match(e)}
        if temporaries:
            run.leftovers += len(temporaries)
        strangers = found - set(run.expected) - temporaries
        if strangers:
            self.fail("export all: left in the folder: %s" % sorted(strangers)[:5])
            for e in strangers:
                os.unlink(os.path.join(run.out, e))
        wrong = [e for e in found & set(run.expected)
                 if digest(os.path.join(run.out, e)) != run.expected[e]]
        if wrong:
            self.fail("export all: not whole: %s" % sorted(wrong)[:5])
        if found >= set(run.expected):
            run.new += 1
        elif found:
            run.mixed += 1
        else:
            run.old += 1

    # ---- Resource.ini ---------------------------------------------------------------------

    def settings_setup(self, run):
        run.folder = os.path.dirname(self.cli)
        run.target = os.path.join(run.folder, "Resource.ini")
        run.values = [os.path.join(self.work, "out-%s" % ("x" * 40 * i)) for i in (1, 2)]
        self.run(["set-output-folder", run.values[0]])
        run.contents = []
        for value in run.values:
            run.seconds = max(run.seconds, self.run(["set-output-folder", value]))
            with open(run.target, "rb") as f:
                run.contents.append(f.read())
        run.expected = {"kerbilo-cli", "resource.config", "Resource.ini"}
        run.state = 1

    def settings_round(self, run):
        before, after = run.contents[run.state], run.contents[1 - run.state]
        self.killed(["set-output-folder", run.values[1 - run.state]], run.seconds)
        run.kills += 1
        with open(run.target, "rb") as f:
            now = f.read()
        extra = self.entries(run.folder) - run.expected
        temporaries = {e for e in extra if TEMPORARY.match(e)}
        run.leftovers += len(temporaries)
        if extra - temporaries:
            self.fail("Resource.ini: left beside it: %s" % sorted(extra - temporaries))
        if now == before:
            run.old += 1
        elif now == after:
            run.new += 1
            run.state = 1 - run.state
        else:
            self.fail("Resource.ini: neither the old nor the new settings: %r" % now[:200])

    # ---- the whole ------------------------------------------------------------------------

    def main(self):
        started = time.monotonic()
        self.setup()
        runs = {
            "replace": Run("replace", os.path.join(self.work, "replace")),
            "in place": Run("in place", os.path.join(self.work, "linked")),
            "export all": Run("export all", os.path.join(self.work, "export")),
            "Resource.ini": Run("Resource.ini", ""),
        }
        self.replace_setup(runs["replace"], False)
        self.replace_setup(runs["in place"], True)
        self.export_setup(runs["export all"])
        self.settings_setup(runs["Resource.ini"])
        rounds = {
            "replace": lambda r: self.replace_round(r, False),
            "in place": lambda r: self.replace_round(r, True),
            "export all": self.export_round,
            "Resource.ini": self.settings_round,
        }
        names = list(runs)
        for i in range(self.kills):
            name = names[i % len(names)]
            rounds[name](runs[name])
        # One uninterrupted run of each: every temporary a kill left is gone after it.
        self.run(self.replace_args(runs["replace"]))
        self.run(self.replace_args(runs["in place"]))
        self.run(["export", self.many, "--out", runs["export all"].folder])
        self.run(["set-output-folder", runs["Resource.ini"].values[0]])
        for run in runs.values():
            folder = run.out if run.name == "export all" else run.folder
            left = [e for e in os.listdir(folder) if TEMPORARY.match(e) or BACKUP.match(e)]
            if left:
                self.fail("%s: still there after a whole run: %s" % (run.name, left))
        print("%d MiB replaced, %d kills in %.1f s" % (self.mib, self.kills,
                                                       time.monotonic() - started))
        print("%-13s %6s %6s %6s %6s %8s %8s %9s %9s" % (
            "case", "run s", "kills", "old", "new", "partly", "restored", "backups",
            "leftover"))
        for run in runs.values():
            print("%-13s %6.2f %6d %6d %6d %8d %8d %9d %9d" % (
                run.name, run.seconds, run.kills, run.old, run.new, run.mixed, run.restored,
                run.backups, run.leftovers))
        return 1 if self.failures else 0


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    mib = int(sys.argv[2]) if len(sys.argv) > 2 else int(os.environ.get("KERBILO_KILL_MIB", 8))
    kills = int(sys.argv[3]) if len(sys.argv) > 3 else int(os.environ.get("KERBILO_KILLS", 200))
    test = Test(sys.argv[1], mib, kills)
    try:
        return test.main()
    finally:
        shutil.rmtree(test.work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
