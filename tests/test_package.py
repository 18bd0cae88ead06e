"""The installed package: one version everywhere, licence files shipped,
and a light `import merrow` whose public names still all work."""

import importlib.metadata
import json
import subprocess
import sys

import merrow


def test_one_version_everywhere():
    assert merrow.__version__ == importlib.metadata.version("merrow")
    r = subprocess.run([sys.executable, "-m", "merrow", "--version"], capture_output=True, timeout=60)
    assert r.stdout.decode() == f"merrow {merrow.__version__}\n"


def test_metadata_and_licence_files_are_shipped():
    dist = importlib.metadata.distribution("merrow")
    meta = dist.metadata
    assert meta["License-Expression"] == "MIT AND CC-BY-4.0 AND BSD-2-Clause AND Unicode-DFS-2016"
    assert "Typing :: Typed" in meta.get_all("Classifier")
    assert any(req.startswith("tqdm==") for req in meta.get_all("Requires-Dist"))
    licences = {p.name: p for p in dist.files if p.parts[-2:-1] == ("licenses",)}
    assert set(licences) == {"LICENSE", "NOTICE"}
    assert licences["LICENSE"].read_text().startswith("MIT License\n")
    stubs = [p for p in dist.files if p.parts[0] == "_merrow-stubs"]
    assert [p.name for p in stubs] == ["__init__.pyi"]


def test_import_is_light_and_every_public_name_works():
    code = (
        "import sys\n"
        "before = set(sys.modules)\n"
        "import merrow\n"
        "loaded = sorted(set(sys.modules) - before)\n"
        "names = {n: type(getattr(merrow, n)).__name__ for n in merrow.__all__}\n"
        "import json\n"
        "print(json.dumps([loaded, names]))\n"
    )
    r = subprocess.run([sys.executable, "-X", "frozen_modules=on", "-c", code], capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr
    loaded, names = json.loads(r.stdout)
    assert sorted(set(loaded) - {"__future__"}) == ["merrow", "merrow._version"]
    assert names["Converter"] == "type" and names["convert_files"] == "function"
    assert names["load"] == "function" and names["PyPipeline"] == "type"
    assert set(merrow.__all__) <= set(dir(merrow))
