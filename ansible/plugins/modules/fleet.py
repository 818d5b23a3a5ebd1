#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright Osterline Devices, LLC. All rights reserved.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: fleet
short_description: Scan a site for Velquor devices and update their firmware with zudiruv-fleet
version_added: 1.0.0
description:
  - Runs C(zudiruv-fleet) on the site host, which must stand in the devices' own network
    segment, since their boot loaders ask for an address and an image by broadcast.
  - With I(action=update) it flashes every device found whose image is in I(images) and that
    the flash history does not already show as current, with a canary and a failure budget.
  - In check mode it scans and plans and sends nothing to any device but the scan's own probes.
  - Reports C(changed) only when a device was flashed; fails when a device failed or the run
    stopped on its canary or failure budget, returning every device's result either way.
author:
  - Osterline Devices, LLC
options:
  action:
    description:
      - C(scan) lists the devices; C(update) scans and updates them.
    type: str
    choices: [scan, update]
    default: update
  targets:
    description:
      - Addresses, ranges (C(10.0.5.20-60)), blocks up to C(/16) or C(@FILE), as
        C(zudiruv-fleet) takes them.
    type: list
    elements: str
    required: true
    aliases: [range]
  images:
    description:
      - Folder on the site host holding the firmware images (C(*.bin)), one per kind letter.
      - Required for I(action=update).
    type: path
  image_names:
    description:
      - The file names in I(images) that belong to this rollout. Any other C(*.bin) there is
        removed before the run (in check mode too), so that an image left from an earlier
        rollout is never offered beside the new one for the same kind letter, which would
        stop the run.
      - By default every C(*.bin) in I(images) is offered.
    type: list
    elements: str
  password_file:
    description:
      - File on the site host with C(ADDRESS PASSWORD) or C(* PASSWORD) lines, readable only by
        its owner.
    type: path
  canary:
    description:
      - How many devices are flashed and checked first and alone; C(0) turns the canary off.
    type: int
    default: 1
  max_failures:
    description:
      - Failures tolerated before no further device starts, a count (C(2)) or a percentage of
        the devices to flash (C(10%)).
    type: str
    default: '10%'
  parallel:
    description:
      - Devices updated at once, 1 to 64.
    type: int
    default: 8
  verify_seconds:
    description:
      - How long a flashed device has to answer again.
    type: int
    default: 180
  reinstall:
    description:
      - Flash devices that the history shows as current too.
    type: bool
    default: false
  history:
    description:
      - The site's flash history, read to tell which devices are current and appended to.
      - Defaults to C(zudiruv-history.jsonl) in I(chdir).
    type: path
  report:
    description:
      - Where the site host keeps the JSON report of an update or scan. Not written in check mode.
    type: path
  chdir:
    description:
      - Working folder of the run.
    type: path
  executable:
    description:
      - The C(zudiruv-fleet) program; by default the one on C(PATH).
    type: path
notes:
  - Needs root, or the package's capabilities on C(eflash.exe) and C(arpping.exe).
  - Devices that cannot be updated from here (no image, a wanted password, an unknown kind,
    behind a router) do not fail the task; they come back as warnings and in I(devices).
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
'''

EXAMPLES = r'''
- name: Update the clocks of the site
  velquor.zudiruv.fleet:
    targets: [10.0.5.0/24]
    images: /var/lib/zudiruv-fleet/images
    password_file: /var/lib/zudiruv-fleet/passwords
    canary: 2
    max_failures: '5%'
    chdir: /var/lib/zudiruv-fleet
    report: /var/lib/zudiruv-fleet/report.json
  register: site

- name: Scan only
  velquor.zudiruv.fleet:
    action: scan
    targets: [10.0.5.0/24]
'''

RETURN = r'''
devices:
  description: Every Velquor device found, as in the report of C(zudiruv-fleet --json).
  returned: always
  type: list
  elements: dict
  sample:
    - address: 10.0.5.7
      mac: 02:5a:00:00:20:01
      kind: POE Clock
      generation: B
      letter: A
      image: poe-b.bin
      image_sha256: 5c1e0d3f7a5d0e2c9d4a8b7f3e2c1a0b9d8e7f6a5b4c3d2e1f0a9b8c7d6e5f4a3
      result: updated
      error: null
      note: null
      seconds: 12.4
counts:
  description: How many devices ended with each result.
  returned: always
  type: dict
  sample: {updated: 5, current: 12, no-image: 1}
report:
  description: The whole JSON report of the run, as C(zudiruv-fleet --json) writes it.
  returned: when zudiruv-fleet gave a report
  type: dict
stopped:
  description: Why the run left devices untouched (canary, failure budget, interruption), or null.
  returned: always
  type: str
  sample: the canary 10.0.5.7 was not updated
exit_status:
  description: The exit status of zudiruv-fleet (0 done, 1 not every device, 2 usage, 3 every device current, 4 unconfirmed).
  returned: always
  type: int
  sample: 0
lines:
  description: The run's human lines (plan, progress, summary).
  returned: always
  type: list
  elements: str
'''

import glob
import json
import os

from ansible.module_utils.basic import AnsibleModule

FAILED_RESULTS = ('flash-failed', 'not-back', 'unconfirmed')
FLASHED_RESULTS = ('updated', 'unconfirmed')
UNTOUCHED_RESULTS = ('no-image', 'wants-password', 'kind-unknown', 'not-on-segment')


def fleet_command(module, program):
    params = module.params
    command = [program, params['action'], '--json']
    if params['password_file']:
        command += ['--password-file', params['password_file']]
    if params['report'] and not module.check_mode:
        command += ['--report', params['report']]
    if params['action'] == 'update':
        command += ['--images', params['images'], '--canary', str(params['canary']),
                    '--max-failures', params['max_failures'], '--parallel', str(params['parallel']),
                    '--verify-seconds', str(params['verify_seconds'])]
        if params['history']:
            command += ['--history', params['history']]
        if params['reinstall']:
            command.append('--reinstall')
        command.append('--dry-run' if module.check_mode else '--yes')
    return command + ['--'] + params['targets']


def prune_images(module):
    keep = set(module.params['image_names'])
    for path in glob.glob(os.path.join(module.params['images'], '*.bin')):
        if os.path.basename(path) not in keep:
            try:
                os.remove(path)
            except OSError as error:
                module.fail_json(msg='cannot remove the image %s left from an earlier rollout: %s' % (path, error),
                                 devices=[], counts={}, stopped=None)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            action=dict(type='str', choices=['scan', 'update'], default='update'),
            targets=dict(type='list', elements='str', required=True, aliases=['range']),
            images=dict(type='path'),
            image_names=dict(type='list', elements='str'),
            password_file=dict(type='path', no_log=False),
            canary=dict(type='int', default=1),
            max_failures=dict(type='str', default='10%'),
            parallel=dict(type='int', default=8),
            verify_seconds=dict(type='int', default=180),
            reinstall=dict(type='bool', default=False),
            history=dict(type='path'),
            report=dict(type='path'),
            chdir=dict(type='path'),
            executable=dict(type='path'),
        ),
        required_if=[('action', 'update', ('images',))],
        supports_check_mode=True,
    )
    program = module.params['executable'] or module.get_bin_path('zudiruv-fleet', required=True)
    if module.params['images'] and module.params['image_names'] is not None:
        prune_images(module)
    rc, out, err = module.run_command(fleet_command(module, program), cwd=module.params['chdir'])
    lines = err.splitlines()
    try:
        report = json.loads(out)
    except ValueError:
        module.fail_json(msg='zudiruv-fleet gave no report (exit status %d): %s' % (rc, err.strip()[-2000:]),
                         exit_status=rc, lines=lines, devices=[], counts={}, stopped=None)

    devices = report.get('devices', [])
    counts = {}
    for device in devices:
        counts[device['result']] = counts.get(device['result'], 0) + 1
    if module.check_mode:
        changed = counts.get('skipped', 0) > 0
    else:
        changed = any(counts.get(result, 0) for result in FLASHED_RESULTS)
    for device in devices:
        if device['result'] in UNTOUCHED_RESULTS:
            module.warn('%s %s: %s' % (device['address'], device['result'], device.get('error') or ''))

    result = dict(changed=changed, exit_status=rc, devices=devices, counts=counts, stopped=report.get('stopped'),
                  lines=lines, report=report)
    failed = [device for device in devices if device['result'] in FAILED_RESULTS]
    if rc == 2 or report.get('stopped') or failed:
        reasons = ['%s %s: %s' % (device['address'], device['result'], device.get('error') or '') for device in failed]
        if report.get('stopped'):
            reasons.insert(0, 'stopped: %s' % report['stopped'])
        module.fail_json(msg='; '.join(reasons) or 'zudiruv-fleet exit status %d: %s' % (rc, err.strip()[-2000:]),
                         **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
