"""System checks (`manage.py check`) for the mistakes merchants make in practice.

    vemrat_pay.E001  VEMRAT_PAY is not a dict
    vemrat_pay.E002  VEMRAT_PAY has a key this app does not know (a typo)
    vemrat_pay.E003  only one of COMMUNITY_KEY and SPONSOR_KEY is given
    vemrat_pay.E004  a VEMRAT_PAY value of the wrong kind
    vemrat_pay.E010  the keys cannot be found (auth_key.py missing, unreadable or incomplete)
    vemrat_pay.E011  WORKING_SPACE is not a str (vemrat_pay ignores a pathlib.Path)
    vemrat_pay.W012  a trailing comment in auth_key.py becomes part of a key
    vemrat_pay.W013  a line for another name in auth_key.py is taken for a key
    vemrat_pay.W014  a key in auth_key.py is read other than Python reads it
    vemrat_pay.W020  no socket timeout: a request to the service may wait forever
    vemrat_pay.W021  the service base URL is a local sandbox while DEBUG is False
    vemrat_pay.W022  callback URLs are not HTTPS while DEBUG is False
    vemrat_pay.E023  the callback view is not in the URLconf
"""

from django.core import checks

from .deployment import check_base_url, check_callback_base_url, check_socket_timeout, check_urls
from .key_file import check_key_file
from .keys import check_keys_found, check_working_space
from .settings_dict import check_settings_dict

TAG = "vemrat_pay"

for check in (check_settings_dict, check_keys_found, check_working_space, check_key_file,
              check_socket_timeout, check_base_url, check_callback_base_url, check_urls):
    checks.register(check, TAG)
