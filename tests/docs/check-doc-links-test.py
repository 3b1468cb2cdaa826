#!/usr/bin/env python3
"""The page check on pages written for each case: what it takes for a link, what it reports.

  CCXSIM=PATH check-doc-links-test.py    (without CCXSIM the case of a refused machine file skips)
"""
import os
import runpy
import tempfile
import types
import unittest

# The checker's functions, loaded from its file (its name is not a module name).
checker = types.SimpleNamespace(
    **runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)), "check-doc-links.py")))

CCXSIM = os.environ.get("CCXSIM")


class Repository:
    """A repository of a few files in a temporary directory."""

    def __init__(self, files):
        self.directory = tempfile.TemporaryDirectory()
        self.root = self.directory.name
        for path, text in files.items():
            full = os.path.join(self.root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as stream:
                stream.write(text)

    def problems(self, ccxsim=None):
        problems, _ = checker.check(self.root, ccxsim)
        return problems

    def close(self):
        self.directory.cleanup()


GUIDE = """# Guide

## What `./scripts/test` runs

## Figures (measured on this project's 2-core machine, otherwise idle)

## report.json

## Steps

## Steps
"""


class SlugTest(unittest.TestCase):
    def test_headings_give_github_anchors(self):
        cases = [
            ("In the simulator", "in-the-simulator"),
            ("What `./scripts/test` runs", "what-scriptstest-runs"),
            ("Figures (measured on this project's 2-core machine, otherwise idle)",
             "figures-measured-on-this-projects-2-core-machine-otherwise-idle"),
            ("report.json", "reportjson"),
            ("Reading the [tables](tables.md) with *iasl*", "reading-the-tables-with-iasl"),
            ("fault_sweep and CCX_FULL_SWEEP", "fault_sweep-and-ccx_full_sweep"),
        ]
        for heading, anchor in cases:
            self.assertEqual(checker.slug(heading), anchor, heading)

    def test_repeated_headings_are_numbered_and_code_is_not_a_heading(self):
        anchors = checker.anchors_of(GUIDE + "```sh\n# not a heading\n```\n")
        self.assertIn("steps", anchors)
        self.assertIn("steps-1", anchors)
        self.assertNotIn("not-a-heading", anchors)


class LinkTest(unittest.TestCase):
    def setUp(self):
        self.repository = None

    def tearDown(self):
        if self.repository:
            self.repository.close()

    def problems_of(self, readme, ccxsim=None, **extra):
        files = {"README.md": readme, "docs/guide.md": GUIDE, "tools/tool.cpp": "", "machines/small.json": "{}"}
        files.update(extra)
        self.repository = Repository(files)
        return self.repository.problems(ccxsim)

    def test_links_that_resolve_are_accepted(self):
        readme = """# Project

[guide](docs/guide.md), [its figures](docs/guide.md#figures-measured-on-this-projects-2-core-machine-otherwise-idle),
[the second Steps](docs/guide.md#steps-1), [report.json](docs/guide.md#reportjson), [tools](tools/),
[a file](./tools/tool.cpp "title"), [here](#project), ![a picture](tools/tool.cpp),
[web](https://example.org/missing.md), `[not a link](missing.md)`, and `machines/small.json`.

[reference]: docs/guide.md#what-scriptstest-runs

```sh
cat [also not a link](missing.md)
```
"""
        self.assertEqual(self.problems_of(readme), [])

    def test_each_broken_link_is_named_with_its_page_line_and_what_is_missing(self):
        readme = "# Project\n\n[gone](docs/gone.md) and [bad anchor](docs/guide.md#no-such-heading)\n"
        page = "# Page\n\n[up and out](../../elsewhere.md) and [here](#nowhere)\n\n[ref]: ../tools/gone.cpp\n"
        problems = self.problems_of(readme, **{"docs/page.md": page})
        self.assertEqual(problems, [
            "README.md:3: link docs/gone.md: docs/gone.md does not exist",
            "README.md:3: link docs/guide.md#no-such-heading: docs/guide.md has no heading with the anchor "
            "#no-such-heading",
            "docs/page.md:3: link ../../elsewhere.md: leads out of the repository, to "
            + os.path.normpath(os.path.join(self.repository.root, "..", "elsewhere.md")),
            "docs/page.md:3: link #nowhere: docs/page.md has no heading with the anchor #nowhere",
            "docs/page.md:5: link ../tools/gone.cpp: tools/gone.cpp does not exist",
        ])

    def test_a_machine_file_named_in_a_command_or_a_link_must_exist(self):
        readme = "# Project\n\n```sh\nccxsim boot --machine machines/missing.json\n```\n"
        page = "# Page\n\n[small](../machines/small.json), [other](../machines/other.json)\n"
        problems = self.problems_of(readme, **{"docs/page.md": page})
        self.assertEqual(problems, [
            "docs/page.md:3: link ../machines/other.json: machines/other.json does not exist",
            "README.md:4: machine file machines/missing.json: does not exist",
            "docs/page.md:3: machine file machines/other.json: does not exist",
        ])

    @unittest.skipUnless(CCXSIM, "CCXSIM is not set")
    def test_a_machine_file_ccxsim_refuses_is_named_with_its_message(self):
        readme = "# Project\n\nBoot `machines/refused.json` or `machines/loads.json`.\n"
        problems = self.problems_of(readme, CCXSIM, **{
            "machines/refused.json": '{"name": "refused", "not_a_key": 1}',
            "machines/loads.json": checker.read(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                                             "machines", "default.json"))})
        self.assertEqual(len(problems), 1, problems)
        self.assertTrue(problems[0].startswith("README.md:3: machine file machines/refused.json: does not load: "),
                        problems[0])
        self.assertIn("not_a_key", problems[0])


if __name__ == "__main__":
    unittest.main()
