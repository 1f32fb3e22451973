"""A reusable Django app for the Vemrat payment service, built on `vemrat_pay`.

Add "vemrat_pay_django" to INSTALLED_APPS and
`path("vemrat-pay/", include("vemrat_pay_django.urls"))` to the URLconf; then start payments
with `vemrat_pay_django.payments.start_payment` and listen to `vemrat_pay_django.signals`.
"""
