#!/bin/sh
# Logout hook for sessions without logind (e.g. a display manager's
# PostSession script or ~/.bash_logout): the running promptsvc95 clears its
# cached session certificates 2.5 seconds later.
exec /usr/bin/promptsvc95 --session-end
