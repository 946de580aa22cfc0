"""Finding and reading the configuration file, seen from outside: the boxes and the exit code."""

from harness import DEFAULT_CAPTION, EXIT_FAILURE, make_app, run, string_table_source

NO_MAIN_CLASS = "Main class was not specified in INI file."

# What the launcher shows once the main-class check has passed and no runtime is installed in the
# prefix: the missing-runtime dialog, which the driver answers with Cancel. Captions in order.
AFTER_MAIN_CLASS_CAPTIONS = ["JRE Not Found"]


def assert_one_error_box(result, text):
    result.check()
    dialogs = result.dialogs
    assert len(dialogs) == 1, result.describe()
    assert dialogs[0].caption == DEFAULT_CAPTION, result.describe()
    assert dialogs[0].texts == [text], result.describe()
    assert dialogs[0].buttons == ["OK"], result.describe()
    assert result.exit_code == EXIT_FAILURE, result.describe()


def assert_passed_main_class_check(result):
    result.check()
    assert all(NO_MAIN_CLASS not in w.texts for w in result.windows), result.describe()
    assert [w.caption for w in result.dialogs] == AFTER_MAIN_CLASS_CAPTIONS, result.describe()
    assert result.exit_code == EXIT_FAILURE, result.describe()


def test_an_ini_that_is_missing_or_cannot_be_read_is_named():
    app = make_app("no_ini")
    expected = string_table_source()[260].replace("%s", app.windows_folder + "\\tool.ini")
    result = run(app, steps=["press:OK"])
    assert_one_error_box(result, expected)
    assert result.dismissed == []
    # A folder where the file should be reads as nothing through the profile functions.
    app.path("tool.ini").mkdir()
    assert_one_error_box(run(app, steps=["press:OK"]), expected)


def test_ini_without_main_class():
    for name, ini in [
        ("empty_ini", ""),
        ("other_keys_only", {"Java Runtime Environment": {"Minimum Version": "1.6"},
                             "Class Path": {"Class Path": "app.jar"}}),
        ("empty_main_class", {"Java Runtime Environment": {"Main Class": ""}}),
        # The key in the wrong section, and an additive section that is empty as well.
        ("main_class_elsewhere", {"Application": {"Main Class": "app.Main"},
                                  "Java Runtime Environment+": {"Main Class": ""}}),
    ]:
        result = run(make_app(name, ini=ini), steps=["press:OK"])
        try:
            assert_one_error_box(result, NO_MAIN_CLASS)
        except AssertionError as failure:
            raise AssertionError(f"case {name}: {failure}") from None


def test_a_renamed_copy_reads_its_own_ini():
    app = make_app("renamed", exe="tool.exe")
    app.write_ini({"Java Runtime Environment": {"Minimum Version": "1.6"}}, name="tool.ini")
    other = app.copy_launcher("other.exe")
    other.write_ini({"Java Runtime Environment": {"Main Class": "app.Main"}}, name="other.ini")

    assert_passed_main_class_check(run(other))
    assert_one_error_box(run(app, steps=["press:OK"]), NO_MAIN_CLASS)

    # And the other way round: each file is read only by its own executable.
    app.write_ini({"Java Runtime Environment": {"Main Class": "app.Main"}}, name="tool.ini")
    other.write_ini({"Java Runtime Environment": {"Minimum Version": "1.6"}}, name="other.ini")
    assert_passed_main_class_check(run(app))
    assert_one_error_box(run(other, steps=["press:OK"]), NO_MAIN_CLASS)


def test_main_class_from_the_additive_section():
    for name, ini in [
        ("plus_only", "[Java Runtime Environment+]\nMain Class=app.Main\n"),
        ("plus_after_empty", "[Java Runtime Environment]\nMain Class=\n"
                             "[Java Runtime Environment+]\nMain Class=app.Main\n"),
        # Section and key names in any letter case, a quoted value.
        ("plus_any_case", "[java runtime environment+]\nmain class=\"app.Main\"\n"),
    ]:
        result = run(make_app(name, ini=ini))
        try:
            assert_passed_main_class_check(result)
        except AssertionError as failure:
            raise AssertionError(f"case {name}: {failure}") from None
