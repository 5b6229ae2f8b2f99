"""read(): the command-line tool's reader, with its formats and messages; a
file read and fitted here gives the tool's model."""
import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

import matmodel

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
CLI = os.environ.get("MATMODEL_CLI")
needs_cli = pytest.mark.skipif(not CLI, reason="MATMODEL_CLI names no matmodel tool (ctest sets it)")


def run_cli(*args):
    return subprocess.run([CLI, *map(str, args)], capture_output=True, text=True)


def test_reads_a_csv_with_a_unit_in_its_header():
    freq, dk, df = matmodel.read(EXAMPLES / "broadband.csv")
    assert freq.dtype == dk.dtype == df.dtype == np.float64
    assert len(freq) == len(dk) == len(df) == 61
    # "Frequency (GHz)": 0.001 GHz is the first sample.
    assert freq[0] == pytest.approx(1e6)
    assert freq[-1] == pytest.approx(40e9)
    assert (dk[0], df[0]) == (4.6244, 0.01569)


def test_sorts_by_frequency_and_takes_a_unit_for_a_file_without_header(tmp_path):
    path = tmp_path / "ghz.txt"
    path.write_text("# datasheet\n10 3.65 0.0095\n1 3.72 0.0085\n2 3.70 0.0088\n")
    freq, dk, df = matmodel.read(str(path), freq_unit="GHz")
    np.testing.assert_array_equal(freq, [1e9, 2e9, 10e9])
    np.testing.assert_array_equal(dk, [3.72, 3.70, 3.65])
    np.testing.assert_array_equal(df, [0.0085, 0.0088, 0.0095])


def test_the_loss_column_must_be_what_the_caller_fits():
    path = EXAMPLES / "conductive.tsv"  # header "Sigma (S/m)"
    with pytest.raises(ValueError, match="the header names a conductivity column, but a loss tangent was requested"):
        matmodel.read(path)
    freq, dk, sigma = matmodel.read(path, conductivity=True)
    assert freq[0] == pytest.approx(10e6)  # "Frequency (MHz)"
    assert sigma[0] == 2.358e-05


@needs_cli
@pytest.mark.parametrize("name, conductivity", [
    ("broadband.csv", False), ("laminate.txt", False), ("conductive.tsv", True)])
def test_read_and_fit_give_the_tools_model(name, conductivity):
    tool = run_cli("fit", "--json", "--var", "F", EXAMPLES / name)
    assert tool.returncode == 0, tool.stderr
    expected = json.loads(tool.stdout)
    model = matmodel.fit(*matmodel.read(EXAMPLES / name, conductivity=conductivity),
                         conductivity=conductivity)
    got = model.to_dict()
    assert got["model"] == expected["model"]
    assert got["errors"] == expected["errors"]
    assert got["expressions"] == expected["expressions"]


@needs_cli
@pytest.mark.parametrize("text", [
    "1e9 3.72 0.0085\n2e9 3.70 0.0088\n3e9 3.69 0.009\n5e9 3,39 0.0055\n",
    "Frequency (rad/s), Dk, Df\n1e9, 3.72, 0.0085\n",
    "1e9 3.72 0.0085\n2e9 3.70 0.0088\n1e9 3.69 0.009\n",
    "1e9 3.72\n",
    "",
], ids=["decimal comma", "unknown unit", "repeated frequency", "short line", "empty"])
def test_a_bad_file_raises_the_tools_message(tmp_path, text):
    path = tmp_path / "prepreg.txt"
    path.write_text(text)
    tool = run_cli("fit", path)
    assert tool.returncode == 2
    with pytest.raises(ValueError) as refused:
        matmodel.read(path)
    assert str(refused.value) + "\n" == tool.stderr


def test_a_missing_file_is_a_value_error_naming_it(tmp_path):
    missing = tmp_path / "absent.csv"
    with pytest.raises(ValueError) as refused:
        matmodel.read(missing)
    assert str(refused.value) == f"{missing}: cannot open: No such file or directory"
