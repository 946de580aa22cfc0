"""Which runtime the launcher picks from the registrations in the prefix's registry, seen from the
stand-in runtime's record of QN_JVM_PATH. Every home is a copy of the stand-in."""

import shutil

from harness import EXIT_FAILURE, WIN64_DIR, make_app, reg_delete, reg_import, run, windows_path
from test_runtime_vm import parse_record

STANDIN = WIN64_DIR / "tests" / "standin"
ROOTS = [r"HKEY_LOCAL_MACHINE\Software\JavaSoft\Java Runtime Environment",
         r"HKEY_LOCAL_MACHINE\Software\JavaSoft\Java Development Kit"]


class RegistryApp:
    def __init__(self, name, runtime=None):
        section = {"Main Class": "com.example.App"}
        section.update(runtime or {})
        self.app = make_app(name, exe="app.exe", ini={"Java Runtime Environment": section,
                                                      "Class Path": {"Class Path": "app.jar"}})
        self.app.write_file("app.jar", b"")
        self.app.write_file("script.txt", "")
        self.record = self.app.path("record.txt")

    def home(self, name, flavours=("bin/client",)):
        """A runtime home in the application's "java" folder holding the stand-in library."""
        folder = self.app.path("java/" + name)
        for flavour in flavours:
            (folder / flavour).mkdir(parents=True, exist_ok=True)
            shutil.copy(STANDIN / "bin" / "client" / "jvm.dll", folder / flavour / "jvm.dll")
        return windows_path(folder)

    def register(self, entries):
        """entries: (key under JavaSoft, subkey, JavaHome)."""
        lines = []
        for key, subkey, java_home in entries:
            lines.append(f"[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\{key}\\{subkey}]")
            lines.append('"JavaHome"="%s"' % java_home.replace("\\", "\\\\"))
            lines.append("")
        reg_import("\n".join(lines))

    def run(self, cwd=None):
        env = {"QN_STANDIN_SCRIPT": str(self.app.path("script.txt")),
               "QN_STANDIN_RECORD": str(self.record)}
        return run(self.app, env=env, cwd=cwd).check()

    def chosen(self):
        return next((value for key, value in parse_record(self.record) if key == "env.QN_JVM_PATH"), None)


def clean_registry():
    for root in ROOTS:
        reg_delete(root)


def test_registered_runtimes_are_ranked_and_chosen():
    clean_registry()
    try:
        app = RegistryApp("registry_ranking")
        jre6 = app.home("jre6")
        jdk5 = app.home("jdk5/jre")
        app.register([("Java Runtime Environment", "1.6", jre6),
                      ("Java Runtime Environment", "1.6.0_10", jre6),
                      ("Java Development Kit", "1.5.0_22", windows_path(app.app.path("java/jdk5")))])
        cases = [
            ({}, jre6 + r"\bin\client\jvm.dll"),
            ({"JVM Source": "favor_JDK"}, jdk5 + r"\bin\client\jvm.dll"),
            ({"Preferred versions": "1.5;1.6"}, jdk5 + r"\bin\client\jvm.dll"),
            ({"Maximum Version": "1.5"}, jdk5 + r"\bin\client\jvm.dll"),
            ({"JVM Source": "only_JRE", "Preferred versions": "1.5"}, jre6 + r"\bin\client\jvm.dll"),
        ]
        for runtime, expected in cases:
            section = {"Main Class": "com.example.App"}
            section.update(runtime)
            app.app.write_ini({"Java Runtime Environment": section, "Class Path": {"Class Path": "app.jar"}},
                              name="app.ini")
            if app.record.exists():
                app.record.unlink()
            result = app.run()
            assert result.exit_code == 0, f"{runtime}: {result.describe()}"
            assert app.chosen() == expected, f"{runtime}: {app.chosen()} / {result.describe()}"
    finally:
        clean_registry()


def test_nothing_in_range_asks_for_a_runtime():
    clean_registry()
    try:
        app = RegistryApp("registry_out_of_range", runtime={"Minimum Version": "1.7"})
        app.register([("Java Runtime Environment", "1.6.0_10", app.home("jre6"))])
        result = app.run()
        assert [box.caption for box in result.dialogs] == ["JRE Not Found"], result.describe()
        assert "minimum version 1.7" in result.dialogs[0].text, result.describe()
        assert result.exit_code == EXIT_FAILURE, result.describe()
        assert app.chosen() is None
    finally:
        clean_registry()


def test_a_library_in_the_current_folder_is_never_loaded():
    clean_registry()
    app = RegistryApp("planted_library")
    downloads = app.app.path("downloads")
    (downloads / "bin" / "client").mkdir(parents=True)
    shutil.copy(STANDIN / "bin" / "client" / "jvm.dll", downloads / "bin" / "client" / "jvm.dll")
    result = app.run(cwd=windows_path(downloads))
    assert [box.caption for box in result.dialogs] == ["JRE Not Found"], result.describe()
    assert result.exit_code == EXIT_FAILURE, result.describe()
    assert app.chosen() is None, app.chosen()
