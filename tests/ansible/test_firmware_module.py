# The Ansible module zendrival.updater.firmware without modules to update: the command line its
# parameters give, what it makes of Updater's document and exit status, and its failures before
# any document, run as Ansible runs a module (a file of arguments, one JSON result on stdout).
# The runs against simulated modules are the end-to-end tests (tests/e2e/AnsibleFirmwareTest).
import importlib.util
import json
import os
import subprocess
import sys

import pytest

MODULE_PATH = os.environ["ZV_ANSIBLE_MODULE"]
spec = importlib.util.spec_from_file_location("firmware", MODULE_PATH)
firmware = importlib.util.module_from_spec(spec)
spec.loader.exec_module(firmware)

DOWNLOAD_AND_UPDATE = ["Updater", "--json", "-G", "-U", "-a"]
UPDATE = ["Updater", "--json", "-U", "-a"]


@pytest.mark.parametrize(
    "params, check_mode, command",
    [
        ({"all": True}, False, DOWNLOAD_AND_UPDATE),
        ({"serial": "40F5849A"}, False, DOWNLOAD_AND_UPDATE + ["-d", "40F5849A"]),
        ({"all": True}, True, DOWNLOAD_AND_UPDATE + ["-n"]),
        ({"all": True, "download": False}, False, UPDATE),
        # A file of the host is no build to download.
        (
            {"all": True, "download": True, "build": 1300, "file": "/srv/1300.bird",
             "transport": "TCP", "router": "D272031D", "server_url": "http://127.0.0.1:8080/cgi/u",
             "store": "/srv/store", "jobs": 3, "wait": 5},
            True,
            UPDATE + ["-b", "1300", "-f", "/srv/1300.bird", "-t", "TCP", "-r", "D272031D",
                      "-u", "http://127.0.0.1:8080/cgi/u", "-i", "/srv/store", "-j", "3", "-w", "5",
                      "-n"],
        ),
        # Zero is a value given, not an option left out.
        ({"serial": "0x2181F0EE", "wait": 0, "build": None}, False,
         DOWNLOAD_AND_UPDATE + ["-d", "0x2181F0EE", "-w", "0"]),
    ],
)
def test_parameters_become_updaters_options(params, check_mode, command):
    assert firmware.updater_command("Updater", params, check_mode) == command


UPDATED = {"serial": "40F5849A", "result": "updated", "error": None}
UNCHANGED = {"serial": "2181F0EE", "result": "unchanged", "error": None}
WOULD_UPDATE = {"serial": "40F5849A", "result": "would_update", "error": None}
OLD_BUILD = "Module 40F5849A runs build 1000 after the update, expected 1300"
FAILED = {"serial": "40F5849A", "result": "failed", "error": OLD_BUILD}
BUSY = {"serial": "2181F0EE", "result": "busy",
        "error": "Module 2181F0EE is being updated by another Updater (process 77)"}


def document(modules, changed=False, dry_run=False, **extra):
    return dict(command="update_all", schema_version=1, dry_run=dry_run, changed=changed,
                modules=modules, summary={"modules": len(modules)}, **extra)


@pytest.mark.parametrize(
    "doc, rc, check_mode, changed, failure",
    [
        (document([UPDATED, UNCHANGED], changed=True), 0, False, True, None),
        (document([UNCHANGED]), 0, False, False, None),
        (document([]), 0, False, False, None),
        # A dry run changes nothing; the task says whether the real run would.
        (document([WOULD_UPDATE, UNCHANGED], dry_run=True), 0, True, True, None),
        (document([UNCHANGED], dry_run=True), 0, True, False, None),
        # The run's error line repeats the module's: it is said once.
        (document([UPDATED, FAILED], changed=True, error=OLD_BUILD), 1, False, True, OLD_BUILD),
        (document([FAILED, BUSY], error=["No build for 1A2B3C4D", OLD_BUILD]), 1, False, False,
         "No build for 1A2B3C4D\n" + OLD_BUILD + "\n" + BUSY["error"]),
        ({"error": "Unknown option -a"}, 1, False, False, "Unknown option -a"),
        (document([]), 1, False, False, "Updater exited with status 1"),
        # A document of another command: an Updater that took "-a" for something else.
        ({"command": "update", "serial": "40F5849A"}, 0, False, False,
         "Updater printed no update_all document; does it know the -a option?"),
    ],
)
def test_document_and_exit_status_give_the_result(doc, rc, check_mode, changed, failure):
    result, message = firmware.outcome(doc, rc, check_mode)
    assert (result["changed"], message) == (changed, failure)
    assert result["modules"] == doc.get("modules", [])


def run_module(tmp_path, args):
    """The module run as Ansible runs it on a host: its arguments in a file."""
    arguments = tmp_path / "args.json"
    arguments.write_text(json.dumps({"ANSIBLE_MODULE_ARGS": args}))
    run = subprocess.run([sys.executable, MODULE_PATH, str(arguments)], capture_output=True,
                         text=True, timeout=60)
    return json.loads(run.stdout)


@pytest.mark.parametrize(
    "args, message",
    [
        ({"all": True, "updater": "Updater-not-installed"},
         "Updater program 'Updater-not-installed' not found (install the updater package on the "
         "host, or give its path as updater)"),
        ({"all": True, "updater": "/nonexistent/Updater"},
         "Updater program '/nonexistent/Updater' not found"),
        ({"all": True, "updater": "/bin/true"}, "/bin/true printed no JSON document (exit status 0)"),
        ({"all": True, "updater": "/bin/false"},
         "/bin/false printed no JSON document (exit status 1)"),
        ({"serial": "40F5849A", "all": True}, "parameters are mutually exclusive: serial|all"),
        ({"jobs": 2}, "one of the following is required: serial, all"),
        ({"all": False}, "serial or all: true is required"),
    ],
)
def test_failures_before_any_document(tmp_path, args, message):
    result = run_module(tmp_path, args)
    assert result.get("failed") is True
    assert result["msg"].startswith(message)
