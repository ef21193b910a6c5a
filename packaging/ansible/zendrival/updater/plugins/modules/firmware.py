# -*- coding: utf-8 -*-
# Copyright: 2026 Pelmorax
#
# No "#!" line: without one Ansible runs the module with the host's ansible_python_interpreter
# (or the one it discovers), as for "#!/usr/bin/python", which lintian refuses in a package;
# "#!/usr/bin/python3" would bypass that variable.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: firmware
short_description: Keep the firmware of Zendrival modules current with Updater
version_added: "2.12.2"
description:
  - Runs C(Updater --json -G -U -a) on the managed host, which finds the Zendrival modules the host
    reaches (on USB, on the network, behind routers) and gives each the build it would get from a
    run of its own. Modules that already run that build are left alone, so a second run changes
    nothing.
  - With I(serial), only that module is updated (C(-a -d SERIAL)).
  - Reads the one JSON document Updater prints and returns its per-module results and summary.
    The task changes when any module was updated, and fails when Updater ends with a non-zero
    exit status (a module failed, was busy, had no build, or no module was found), with Updater's
    error lines as its message.
  - In check mode Updater runs its dry run (C(-n)); nothing is written to any module or to the
    store, and the task reports a change when any module would be updated.
author:
  - Zendrival Updater developers (updater@zendrival.invalid)
requirements:
  - Updater with the C(-a) option (package C(updater)) on the managed host.
options:
  serial:
    description:
      - Serial number of the one module to update (eight hexadecimal digits, a leading C(0x) is
        accepted). Updater's C(-d).
      - Exactly one of I(serial) and I(all) is given.
    type: str
  all:
    description:
      - Update every module found on the host.
      - Exactly one of I(serial) and I(all) is given.
    type: bool
  download:
    description:
      - Download each module's build from the update server into the store first (C(-G)), so that
        a host with an empty store gets it. With C(false) only the builds already in the store are
        installed. Not used with I(file).
    type: bool
    default: true
  build:
    description:
      - The build to install (C(-b)). Without I(build) and I(file) each module gets the latest build,
        as C(Updater -U) chooses it.
    type: int
  file:
    description:
      - A BIRD firmware file on the managed host to install (C(-f)).
    type: path
  transport:
    description:
      - Look for modules on this transport only (C(-t)).
    type: str
    choices: [USB, TCP]
  router:
    description:
      - Serial number of the router module whose modules are updated (C(-r)).
    type: str
  server_url:
    description:
      - URL of the update server (C(-u)), for example C(https://updates.example.net/cgi/u).
    type: str
  store:
    description:
      - Directory of the local store (C(-i)); Updater's default is C(~/.pelmorax) of the user the
        task runs as.
    type: path
  jobs:
    description:
      - How many modules are updated at once (C(-j)); Updater's default is 1.
    type: int
  wait:
    description:
      - Seconds to wait for a module another Updater holds (C(-w)); by default it is reported busy
        at once.
    type: int
  updater:
    description:
      - The Updater program, a name looked for on the PATH (and in the C(sbin) directories) or a
        path.
    type: str
    default: Updater
notes:
  - Each module is locked for the whole host while Updater works on it; two tasks on one host at
    the same module wait for each other (I(wait)) or report it busy.
  - Updater's warnings (such as module locks kept in the store) become warnings of the task.
  - C(man Updater) on the managed host describes every option and the JSON document.
"""

EXAMPLES = r"""
- name: Update every module the host reaches to the latest build
  zendrival.updater.firmware:
    all: true
    server_url: https://updates.example.net/cgi/u
    jobs: 3
  register: firmware

- name: Install build 1300 on one module behind a router
  zendrival.updater.firmware:
    serial: 2181F0EE
    router: D272031D
    build: 1300

- name: What would an update do? (no module and no store is written)
  zendrival.updater.firmware:
    all: true
    transport: TCP
  check_mode: true
  register: plan
"""

RETURN = r"""
modules:
  description: One entry per module Updater worked on, as Updater's C(-a) JSON document holds it.
  returned: when Updater printed its document
  type: list
  elements: dict
  sample:
    - serial: 40F5849A
      link_type: USB
      router_serial: null
      model: Hub-4
      build_before: 1000
      build_after: 1300
      result: updated
      error: null
      seconds: 41.2
  contains:
    serial:
      description: The module's serial number.
      type: str
    link_type:
      description: How it was reached, C(USB), C(TCP) or C(I2C).
      type: str
    router_serial:
      description: The router it sits behind, or null.
      type: str
    model:
      description: The module's model name.
      type: str
    build_before:
      description: The build it ran before, when known.
      type: int
    build_after:
      description: The build it runs after the update, when known.
      type: int
    result:
      description: One of C(updated), C(unchanged), C(failed), C(busy), C(no_build),
        C(wrong_model), C(would_update), C(changed), C(error).
      type: str
    error:
      description: The error line of a module that failed, else null.
      type: str
    seconds:
      description: How long its update took, or null.
      type: float
    plan:
      description: In check mode, what the update would do (build, source, file, blocks, bytes,
        exchanges, round trip, estimated seconds).
      type: dict
summary:
  description: How many modules ended in each result.
  returned: when Updater printed its document
  type: dict
  sample: {updated: 1, unchanged: 2, failed: 0, busy: 0, would_update: 0, modules: 3}
dry_run:
  description: Whether Updater ran its dry run (check mode).
  returned: when Updater printed its document
  type: bool
errors:
  description: Updater's error lines, the run's and the failing modules', each once.
  returned: failure
  type: list
  elements: str
cmd:
  description: The command line that ran.
  returned: when the program was found
  type: list
  elements: str
rc:
  description: Updater's exit status.
  returned: when the program ran
  type: int
stderr:
  description: What Updater wrote to standard error (progress, diagnostics, errors).
  returned: failure
  type: str
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule

# The module's options that pass straight to one of Updater's, in the order of its usage text.
PASSED_OPTIONS = (
    ("build", "-b"),
    ("file", "-f"),
    ("transport", "-t"),
    ("router", "-r"),
    ("server_url", "-u"),
    ("store", "-i"),
    ("jobs", "-j"),
    ("wait", "-w"),
)

ARGUMENT_SPEC = dict(
    serial=dict(type="str"),
    all=dict(type="bool"),
    download=dict(type="bool", default=True),
    build=dict(type="int"),
    file=dict(type="path"),
    transport=dict(type="str", choices=["USB", "TCP"]),
    router=dict(type="str"),
    server_url=dict(type="str"),
    store=dict(type="path"),
    jobs=dict(type="int"),
    wait=dict(type="int"),
    updater=dict(type="str", default="Updater"),
)


def updater_command(program, params, check_mode):
    """Updater's command line for the module's parameters: "-a" always, narrowed by "-d"; "-G"
    unless the build comes from a file of the host."""
    command = [program, "--json"]
    if params.get("download", True) and not params.get("file"):
        command.append("-G")
    command += ["-U", "-a"]
    if params.get("serial"):
        command += ["-d", params["serial"]]
    for name, option in PASSED_OPTIONS:
        if params.get(name) is not None:
            command += [option, str(params[name])]
    if check_mode:
        command.append("-n")
    return command


def read_document(stdout):
    """The JSON object Updater printed, or None when it printed none (or something else)."""
    try:
        document = json.loads(stdout)
    except ValueError:
        return None
    return document if isinstance(document, dict) else None


def error_lines(document):
    """The run's error lines and the failing modules', each once, in the order Updater gave them."""
    top = document.get("error")
    lines = [top] if isinstance(top, str) else list(top or [])
    lines += [entry.get("error") for entry in document.get("modules") or [] if entry.get("error")]
    return list(dict.fromkeys(line for line in lines if line))


def changed(document, check_mode):
    """In a dry run nothing changes, but the task says what would: any module to be updated."""
    if check_mode:
        return any(entry.get("result") == "would_update" for entry in document.get("modules") or [])
    return bool(document.get("changed"))


def outcome(document, rc, check_mode):
    """What the task returns for Updater's document and exit status, and its failure message
    (None when it succeeded)."""
    result = dict(
        changed=changed(document, check_mode),
        modules=document.get("modules") or [],
        summary=document.get("summary") or {},
        dry_run=bool(document.get("dry_run")),
    )
    if rc != 0:
        result["errors"] = error_lines(document)
        return result, "\n".join(result["errors"]) or "Updater exited with status %d" % rc
    if document.get("command") != "update_all":
        return result, "Updater printed no update_all document; does it know the -a option?"
    return result, None


def find_program(module, program):
    """The program's path: a name is looked for on the PATH, a path is taken as it is."""
    if os.sep in program:
        path = os.path.expanduser(program)
        return path if os.path.isfile(path) and os.access(path, os.X_OK) else None
    return module.get_bin_path(program)


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENT_SPEC,
        mutually_exclusive=[("serial", "all")],
        required_one_of=[("serial", "all")],
        supports_check_mode=True,
    )
    params = module.params
    if not params["serial"] and not params["all"]:
        module.fail_json(msg="serial or all: true is required")

    program = find_program(module, params["updater"])
    if program is None:
        module.fail_json(msg="Updater program '%s' not found (install the updater package on "
                         "the host, or give its path as updater)" % params["updater"])
    command = updater_command(program, params, module.check_mode)
    rc, stdout, stderr = module.run_command(command)
    for line in stderr.splitlines():
        if line.startswith("Warning: "):
            module.warn(line[len("Warning: "):])

    document = read_document(stdout)
    if document is None:
        module.fail_json(msg="%s printed no JSON document (exit status %d)" % (program, rc),
                         cmd=command, rc=rc, stderr=stderr)
    result, failure = outcome(document, rc, module.check_mode)
    if failure is not None:
        module.fail_json(msg=failure, cmd=command, rc=rc, stderr=stderr, **result)
    module.exit_json(cmd=command, rc=rc, **result)


if __name__ == "__main__":
    main()
