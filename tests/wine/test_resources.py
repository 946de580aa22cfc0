"""The executable's resources as the system loads them."""

from harness import LAUNCHER, load_strings, string_table_source


def test_string_table_loads_exactly_as_written():
    expected = string_table_source()
    assert sorted(expected) == [202, 203] + list(range(206, 223)) + list(range(225, 231)) + [250, 251, 260, 261, 262, 263, 264, 270, 271, 272, 291, 292]
    loaded = load_strings(LAUNCHER, 200, 300)
    assert sorted(loaded) == sorted(expected), (sorted(loaded), sorted(expected))
    for string_id, text in expected.items():
        assert loaded[string_id] == text, (string_id, loaded[string_id], text)
    # The texts whose exact form is easy to lose on the way through the resource compiler.
    assert loaded[202].endswith(").\n")
    assert loaded[203] == "JNI exception: %s\nReason: %s.\n"
    assert "Please  download" in loaded[206] and "Please  download" in loaded[207]
