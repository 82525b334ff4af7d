# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnex Viravi maintainers
"""Options every module of tarnex.cluster takes."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name


class ModuleDocFragment:  # pylint: disable=too-few-public-methods
    DOCUMENTATION = r'''
options:
  binary_path:
    description:
      - The client C(tarnex-viravi) to run on the managed node.
      - It finds its daemon through the settings file C(tarnex-viravi.config)
        beside it, so a directory per cluster holding a link to the client and
        its own settings file serves several clusters from one host.
      - A bare name is looked for in C(PATH).
    type: path
    default: tarnex-viravi
  timeout:
    description:
      - Seconds the client waits for each reply of the daemon (its C(--timeout)).
      - C(0) waits for ever.
    type: int
    default: 60
notes:
  - The cluster is read only from C(tarnex-viravi cluster status -o json).
  - A client command that ends with status 11 after a change is followed by a
    fresh reading of the cluster; when the wanted state was reached all the
    same, the task goes on with a warning.
requirements:
  - tarnex-viravi on the managed node
'''

    WAIT = r'''
options:
  wait_timeout:
    description:
      - Seconds to wait for the wanted state before the task fails.
    type: int
    default: 300
  wait_sleep:
    description:
      - Seconds between two readings of the cluster while waiting.
    type: float
    default: 2.0
'''
