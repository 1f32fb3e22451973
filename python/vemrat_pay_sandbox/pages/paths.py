"""Where the dashboard's pages, forms and live-update helpers are served."""

DASHBOARD_PATH = "/sandbox/"
# GET <path>/<order_id> is the order's page; POST <path>/<order_id>/<action> one of its buttons.
ORDER_PATH = "/sandbox/dashboard/orders"
# POST adds a rule from a form; POST <path>/clear removes all, <path>/<id>/remove one.
FAULTS_PATH = "/sandbox/dashboard/faults"
CLEAR_FAULTS_PATH = f"{FAULTS_PATH}/clear"
VERSION_PATH = "/sandbox/dashboard/version"
SCRIPT_PATH = "/sandbox/dashboard/live.js"
