"""The startup cache under Windows: the options the stand-in runtime is handed with "Startup Cache"
on, by the version in the runtime home's release file, and the files left in %LOCALAPPDATA%."""

import re
import shutil

from harness import WIN64_DIR, windows_path
from test_runtime_vm import StandinApp

STANDIN_LIBRARY = WIN64_DIR / "tests" / "standin" / "bin" / "client" / "jvm.dll"
PRODUCT = {"Product Name": "Cache: Test", "Product Code": "ct"}
STATIC_MAGIC = b"\xa2\xab\x0b\xf0"
QUIET_SHARING = "-Xlog:cds*=off"
HOOKS = ("vfprintf", "exit", "abort")


class CacheApp(StandinApp):
    """A stand-in application with a runtime home of its own (so it can carry a release file) and
    a private %LOCALAPPDATA%."""

    def __init__(self, name, release, cache="yes"):
        super().__init__(name, application=None)
        jre = self.app.folder / "jre"
        (jre / "bin" / "client").mkdir(parents=True)
        shutil.copyfile(STANDIN_LIBRARY, jre / "bin" / "client" / "jvm.dll")
        if release is not None:
            (jre / "release").write_text(release)
        runtime = {"Main Class": "com.example.App", "JRE Path": windows_path(jre)}
        if cache is not None:
            runtime["Startup Cache"] = cache
        self.app.write_ini({"Product Information": PRODUCT, "Java Runtime Environment": runtime,
                            "Class Path": {"Class Path": "app.jar"}})
        self.local = self.app.folder / "local"
        self.local.mkdir()
        # ":" is not a file-name character: the product folder leaves it out.
        self.cache_folder = self.local / "Cache Test" / "ct"

    def start(self, hooks=False):
        """The option strings the runtime was handed; with hooks, also the entries of the
        launcher's output and exit hooks, which carry no text."""
        self.record.unlink(missing_ok=True)
        result = self.run(env={"LOCALAPPDATA": windows_path(self.local)})
        assert result.dialogs == [] and result.exit_code == 0, result.describe()
        options = self.entries("option")
        return options if hooks else [o for o in options if o not in HOOKS]

    def cache_files(self):
        return sorted(p.name for p in self.cache_folder.iterdir()) if self.cache_folder.exists() else []


BASE = ["-Djava.class.path={folder}\\app.jar", "-Dsun.java.command=com.example.App"]


def base_options(app):
    return [option.format(folder=app.app.windows_folder) for option in BASE]


def test_without_the_key_the_options_are_unchanged_and_no_folder_is_made():
    absent = CacheApp("cache_absent", 'JAVA_VERSION="17.0.9"\n', cache=None)
    unchanged = absent.start(hooks=True)
    assert [o for o in unchanged if o not in HOOKS] == base_options(absent), unchanged
    for value in ("no", "", "1", "yes please"):
        app = CacheApp("cache_absent", 'JAVA_VERSION="17.0.9"\n', cache=value)
        options = app.start(hooks=True)
        assert options == unchanged, f"{value}: {options}"
        assert not (app.local / "Cache Test").exists(), value


def test_a_runtime_before_13_gets_no_cache_options():
    for release in ('JAVA_VERSION="11.0.22"\n', 'JAVA_VERSION="1.8.0_392"\n', None, "garbage"):
        app = CacheApp("cache_old", release)
        options = app.start()
        assert options == base_options(app), f"{release}: {options}"
        assert not (app.local / "Cache Test").exists(), release


def test_java_17_trains_then_uses_a_kept_archive():
    app = CacheApp("cache_17", 'IMPLEMENTOR="X"\nJAVA_VERSION="17.0.9"\n', cache="YES")
    options = app.start()
    assert options[:2] == base_options(app), options
    training = options[2:]
    assert len(training) == 2 and training[1] == QUIET_SHARING, training
    folder = windows_path(app.cache_folder)
    found = re.fullmatch(re.escape(f"-XX:DumpLoadedClassList={folder}\\")
                         + r"(app\.[0-9a-f]{8}\.)([0-9a-f]{16})\.p\d+\.list", training[0])
    assert found, training[0]
    # The stand-in writes no archive: the launcher keeps nothing and leaves nothing behind.
    assert app.cache_files() == []

    # A whole archive of this key, as a training start keeps it, is used by the next start.
    prefix, key = found.group(1), found.group(2)
    content = STATIC_MAGIC + b"\0" * 60
    kept = f"{prefix}{key}.0.{len(content)}.jsa"
    (app.cache_folder / kept).write_bytes(content)
    assert app.start()[:4] == base_options(app) + [f"-XX:SharedArchiveFile={folder}\\{kept}", QUIET_SHARING]

    # One cut short is passed over, and the start trains again.
    (app.cache_folder / kept).write_bytes(content[:10])
    options = app.start()
    assert options[2].startswith("-XX:DumpLoadedClassList="), options
    assert app.cache_files() == [kept]


def test_java_21_and_25_train_as_17_does():
    for version in ("21.0.2", "25"):
        app = CacheApp(f"cache_{version[:2]}", f'JAVA_VERSION="{version}"\nJAVA_RUNTIME_VERSION="{version}+13-LTS"\n')
        options = app.start()
        assert options[:2] == base_options(app) and options[3:] == [QUIET_SHARING], options
        assert re.fullmatch(r"-XX:DumpLoadedClassList=.*\\app\.[0-9a-f]{8}\.[0-9a-f]{16}\.p\d+\.list", options[2]), options
        # No class was listed, so nothing is assembled and nothing kept.
        assert app.cache_files() == []
